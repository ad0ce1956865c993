// The preview panel, the movie information panel and revealing the export.
#include "app/Controller.h"

#include "media/MediaProbe.h"
#include "ui_InfoPanel.h"
#include "ui_PreviewPanel.h"

#include <QAudioOutput>
#include <QtConcurrent/QtConcurrentRun>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QToolButton>
#include <QUrl>

namespace tovix {

namespace {

void setImage(QToolButton* button, const char* image) {
  button->setIcon(QIcon(QStringLiteral(":/images/") + image));
  button->setProperty("imageName", QLatin1String(image));
}

// The movie data size with thousands grouping and no fraction: 1,234,567.
QString groupedSize(int64_t bytes) { return QLocale(QLocale::English).toString(static_cast<qlonglong>(bytes)); }

}  // namespace

void Controller::previewMovie() {
  const int row = selectedRow();
  if (row < 0) return;
  if (!showOrHide(previewPanel_, true)) {
    previewPause();  // hidden, the movie must not play on unseen
    return;
  }
  const auto path = q_ ? q_->movie(row) : std::nullopt;
  if (!path || !media::Movie::open(*path)) return;
  attachAudioIfPresent(player_, audio_);
  player_->setSource(QUrl::fromLocalFile(*path));
}

void Controller::previewToggle() {
  if (previewIsPlaying_)
    previewPause();
  else
    previewPlay();
}

void Controller::previewPlay() {
  player_->play();
  showPlaybackState(true);
}

void Controller::previewPause() {
  player_->pause();
  showPlaybackState(false);
}

// The button offers what a click will do, also at the end of the movie.
void Controller::showPlaybackState(bool playing) {
  previewIsPlaying_ = playing;
  QToolButton* button = previewUi_->previewPlayButton;
  setImage(button, playing ? "HUD_Pause.png" : "HUD_Play.png");
  button->setAccessibleName(playing ? tr("Pause") : tr("Play"));
  button->setToolTip(playing ? tr("Pause") : tr("Play"));
}

void Controller::volumeToggle() {
  const bool wasMuted = audio_->isMuted();
  audio_->setMuted(!wasMuted);
  setImage(previewUi_->volumeMuted, wasMuted ? "hud_speaker.png" : "hud_speaker_off.png");
}

void Controller::showInfo() {
  if (selectedRow() < 0 || !showOrHide(infoWindow_, false)) return;
  movieMetaData();
}

void Controller::movieMetaData() {
  const int row = selectedRow();
  const auto path = q_ && row >= 0 ? q_->movie(row) : std::nullopt;
  if (!path) return;
  Ui::InfoPanel& info = *infoUi_;
  const auto movie = media::Movie::open(*path);
  if (!movie) {
    for (QLabel* field : {info.copyright, info.formatInInfo, info.duration, info.movieName, info.movieSize})
      field->setText(QStringLiteral(" "));
    return;
  }
  const auto copyrightText = movie->copyright();
  info.copyright->setText(copyrightText && *copyrightText != QLatin1String("<null>") ? *copyrightText
                                                                                    : QStringLiteral(" "));
  info.movieName->setText(q_->movieDisplayName(row).value_or(QString()));
  // The tracks are described from frames sampled through the movie, which
  // takes a moment: on a thread of its own, the panel filled when it is done
  // and still about the same movie.
  info.formatInInfo->setText(tr("Looking at the tracks…"));
  infoFormats_.setFuture(QtConcurrent::run([path = *path]() -> std::pair<QString, QString> {
    const auto opened = media::Movie::open(path);
    if (!opened) return {path, QString()};
    QString formats;
    for (const auto& summary : opened->trackFormatSummaries()) {
      if (summary) formats += *summary + u'\n';
    }
    if (const int chapters = opened->chapterCount(); chapters > 0)
      formats += (chapters == 1 ? tr("1 chapter") : tr("%1 chapters").arg(chapters)) + u'\n';
    return {path, formats.isEmpty() ? QStringLiteral("MPEG-1 Muxed") : formats};
  }));
  // days:hh:mm:ss, the time text up to its fraction (its first ten
  // characters for anything shorter than ten days).
  const QString time = media::timeText(movie->duration());
  info.duration->setText(time.left(time.indexOf(u'.')));
  if (const auto size = movie->dataSize()) info.movieSize->setText(groupedSize(*size));
}

void Controller::showTrackFormats() {
  const auto [path, formats] = infoFormats_.result();
  const int row = selectedRow();
  if (q_ && row >= 0 && q_->movie(row) == path) infoUi_->formatInInfo->setText(formats.isEmpty() ? QStringLiteral(" ") : formats);
}

void Controller::showInFinder() {
  if (showInFinderPath_.isEmpty() || !revealFile) return;
  // While the export runs its file has no name yet: show the folder it goes to.
  revealFile(QFileInfo::exists(showInFinderPath_) ? showInFinderPath_ : QFileInfo(showInFinderPath_).path());
}

bool Controller::attachAudioIfPresent(QMediaPlayer* player, QAudioOutput* output) {
  const bool present = !QMediaDevices::audioOutputs().isEmpty();
  player->setAudioOutput(present ? output : nullptr);
  return present;
}

}  // namespace tovix
