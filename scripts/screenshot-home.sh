# Sourced by the screenshot scripts, with the default picture as its argument:
# moves to the checkout, sets $output (the script's first argument, else the
# default) and runs the rest of the script with HOME in a fresh folder that is
# removed on exit. Where the system allows a private mount namespace (Linux
# with user namespaces), that folder is seen as /home/alex, so the paths the
# windows show look like a user's own; elsewhere it is a temporary folder.
set -euo pipefail
script=$(realpath "$0")
cd "$(dirname "${BASH_SOURCE[0]}")/.."
output=$(realpath -m "${script_output:-$1}")
screenshot_user=alex

# The pictures of the library are drawn once per version of the drawing
# script and kept in the build folder.
images=$PWD/build/screenshot-images-$(sha1sum scripts/screenshot-images.sh | cut -c1-12)
if [[ -z ${SCREENSHOT_SCRATCH:-} && ! -d $images ]]; then
  scripts/screenshot-images.sh "$images.partial" >/dev/null
  mv "$images.partial" "$images"
fi

if [[ -z ${SCREENSHOT_SCRATCH:-} ]] && unshare --map-root-user --mount true 2>/dev/null; then
  # The script again, in its own mount namespace; it leaves its picture in
  # the scratch folder, since the checkout may be under /home.
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  SCREENSHOT_SCRATCH=$scratch unshare --map-root-user --mount --propagation private bash "$script"
  mkdir -p "$(dirname "$output")"
  cp "$scratch/picture.png" "$output"
  echo "$output"
  exit 0
fi

if [[ -n ${SCREENSHOT_SCRATCH:-} ]]; then
  # /home becomes an overlay whose changes stay in the scratch folder, with
  # an empty /home/alex in it.
  scratch=$SCREENSHOT_SCRATCH
  mkdir "$scratch/upper" "$scratch/work" "$scratch/home"
  mount -t overlay overlay -o "lowerdir=/home,upperdir=$scratch/upper,workdir=$scratch/work" /home
  mkdir -p "/home/$screenshot_user"
  mount --bind "$scratch/home" "/home/$screenshot_user"
  home=/home/$screenshot_user
  output=$scratch/picture.png
else
  echo "No private mount namespace: the pictures show a temporary home folder." >&2
  home=$(mktemp -d)
fi
export HOME=$home
# Removes the temporary home folder; a script that sets its own trap on exit
# calls it there.
remove_home() {
  [[ -n ${SCREENSHOT_SCRATCH:-} ]] || rm -rf "$home"
}
trap remove_home EXIT

# Fills a library (default ~/Ovalis) with the teaching cases of
# scripts/screenshot-library.py and their images.
make_library() {
  local library=${1:-$HOME/Ovalis}
  mkdir -p "$library"
  python3 scripts/screenshot-library.py "$HOME/.library.json" "$images" "$library/Media"
  ./build/ovalis-cli --library "$library" restore-backup "$HOME/.library.json" >/dev/null
  rm "$HOME/.library.json"
}

# Starts the application under a virtual display of the given size (e.g.
# 1280x800), gives it six seconds to show its library window, runs the steps
# (bash, typically xdotool and import; $output is in the environment) and
# quits it.
run_on_display() {
  local size=$1 steps=$2
  export output
  xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
    ./build/ovalis >/dev/null 2>&1 &
    app=$!
    sleep 6
    '"$steps"'
    kill $app
  '
}

# A palette of 256 colours keeps the picture small and looks the same.
finish_picture() {
  convert "$output" -dither None -colors 256 "PNG8:$output"
  [[ -n ${SCREENSHOT_SCRATCH:-} ]] || echo "$output"
}
