# Sourced by the benchmarks once they stand in the repository's top folder.
sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
# needs COMMAND PACKAGE: installs the Debian package when the command is missing.
needs() { command -v "$1" >/dev/null || $sudo apt-get install -y -qq "$2" >/dev/null; }
# resume_movie MINUTES: the movie the interrupted-export benchmarks stop and
# resume, noisy 1080p30 with sound, made once under bench/out; prints its path.
resume_movie() {
  local movie="$PWD/bench/out/resume_${1}min.mp4" seconds=$(($1 * 60))
  mkdir -p "$PWD/bench/out"
  if [ ! -f "$movie" ]; then
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=$seconds" \
      -f lavfi -i "sine=frequency=300:duration=$seconds" -filter:v "noise=alls=8:allf=t" -pix_fmt yuv420p \
      -c:v libx264 -preset ultrafast -b:v 20M -c:a aac "$movie"
  fi
  echo "$movie"
}
