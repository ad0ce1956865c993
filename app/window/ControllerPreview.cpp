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
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QUrl>

#include <limits>

namespace tovix {

namespace {

void setImage(QToolButton* button, const char* image) {
  button->setIcon(QIcon(QStringLiteral(":/images/") + image));
  button->setProperty("imageName", QLatin1String(image));
}

// The movie data size with thousands grouping and no fraction: 1,234,567.
QString groupedSize(int64_t bytes) { return QLocale(QLocale::English).toString(static_cast<qlonglong>(bytes)); }

// A movie time as a clock shows it: 1:05, or 1:02:05 from an hour on.
QString clockText(qint64 ms) {
  const qint64 seconds = ms / 1000;
  const auto twoDigits = [](qint64 value) { return QStringLiteral("%1").arg(value, 2, 10, QChar(u'0')); };
  if (seconds < 3600) return QStringLiteral("%1:%2").arg(seconds / 60).arg(twoDigits(seconds % 60));
  return QStringLiteral("%1:%2:%3").arg(seconds / 3600).arg(twoDigits(seconds / 60 % 60), twoDigits(seconds % 60));
}

}  // namespace

void Controller::previewMovie() {
  const int row = selectedRow();
  if (row < 0) return;
  if (!showOrHide(previewPanel_, true)) {
    previewPause();  // hidden, the movie must not play on unseen
    return;
  }
  const auto path = q_ ? q_->movie(row) : std::nullopt;
  previewPanel_->setWindowTitle(tr("Preview"));
  if (!path || !media::Movie::open(*path)) return;
  previewPanel_->setWindowTitle(tr("Preview – %1").arg(q_->movieDisplayName(row).value_or(QFileInfo(*path).fileName())));
  attachAudioIfPresent(player_, audio_);
  player_->setSource(QUrl::fromLocalFile(*path));
  // Paused from the start, the player shows the first frame at once rather
  // than a black picture until Play.
  player_->pause();
  showPlaybackState(false);
}

void Controller::connectSeekBar() {
  QSlider* bar = previewUi_->seekBar;
  bar->setRange(0, 0);
  bar->setSingleStep(5000);  // arrow keys: five seconds
  bar->setPageStep(30000);   // Page Up and Down: half a minute
  connect(player_, &QMediaPlayer::durationChanged, this, [this, bar](qint64 duration) {
    const QSignalBlocker quiet(bar);
    bar->setRange(0, int(std::min<qint64>(duration, std::numeric_limits<int>::max())));
    showPreviewTime();
  });
  connect(player_, &QMediaPlayer::positionChanged, this, [this, bar](qint64 position) {
    if (!bar->isSliderDown()) {
      const QSignalBlocker quiet(bar);
      bar->setValue(int(std::min<qint64>(position, bar->maximum())));
    }
    showPreviewTime();
  });
  // Only the user's moves reach here: the player's own are made quietly.
  connect(bar, &QSlider::valueChanged, player_, [this](int value) { player_->setPosition(value); });
}

void Controller::showPreviewTime() {
  previewUi_->previewTime->setText(tr("%1 / %2").arg(clockText(player_->position()), clockText(player_->duration())));
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
  infoFormats_.setFuture(QtConcurrent::run([path = *path, copy = prefs_.copyDevicePictures()]() -> std::pair<QString, QString> {
    const auto opened = media::Movie::open(path);
    if (!opened) return {path, QString()};
    QString formats;
    for (const auto& summary : opened->trackFormatSummaries()) {
      if (summary) formats += *summary + u'\n';
    }
    if (const int chapters = opened->chapterCount(); chapters > 0)
      formats += (chapters == 1 ? tr("1 chapter") : tr("%1 chapters").arg(chapters)) + u'\n';
    // What each device's export does with the picture.
    for (const QString& fate : opened->devicePictureFates(copy)) formats += fate + u'\n';
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
