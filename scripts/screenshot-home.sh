# Sourced by the screenshot scripts, with the default picture as its argument:
# moves to the checkout, sets $output (the script's first argument, else the
# default) and runs the rest of the script with HOME in a fresh folder that is
# removed on exit. Where the system allows a private mount namespace (Linux
# with user namespaces), that folder is seen as /home/alex, so the paths the
# windows show look like a user's own, and the application has a network of
# its own; elsewhere it is a temporary folder.
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

# A script that sets screenshot_discovery=yes needs an Avahi daemon for the
# network inside the namespaces: the installed one, or else one unpacked
# (not installed, so that no daemon starts on the machine's own network)
# from Debian's packages into the build folder, while there is a network.
avahi=$PWD/build/avahi
if [[ ${screenshot_discovery:-} == yes && -z ${SCREENSHOT_SCRATCH:-} ]] &&
  ! PATH=$PATH:/usr/sbin command -v avahi-daemon >/dev/null && [[ ! -x $avahi/usr/sbin/avahi-daemon ]]; then
  mkdir -p "$avahi.partial"
  if (cd "$avahi.partial" && apt-get download -q avahi-daemon libavahi-core7 libdaemon0 >/dev/null 2>&1); then
    for package in "$avahi.partial"/*.deb; do
      dpkg-deb -x "$package" "$avahi.partial"
    done
    rm "$avahi.partial"/*.deb
    mv "$avahi.partial" "$avahi"
  else
    rm -rf "$avahi.partial"
  fi
fi

namespaces=(--map-root-user --mount --net --pid --fork --propagation private)
if [[ -z ${SCREENSHOT_SCRATCH:-} ]] && unshare "${namespaces[@]}" true 2>/dev/null; then
  # The script again, in its own namespaces: its own view of /home, a
  # network of its own (nothing reaches the machine's network) and its own
  # processes, which all end with it. It leaves its picture in the scratch
  # folder, since the checkout may be under /home.
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  SCREENSHOT_SCRATCH=$scratch unshare "${namespaces[@]}" bash "$script"
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
  ip link set lo up
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

# Lets the libraries find each other as on a real network: a private system
# bus and an Avahi daemon on a virtual network that exists only inside the
# namespaces. Fails where there are no namespaces or no Avahi daemon.
start_discovery() {
  local daemon libraries=
  [[ -n ${SCREENSHOT_SCRATCH:-} ]] || return 1
  command -v dbus-daemon >/dev/null && command -v dbus-send >/dev/null || return 1
  if ! daemon=$(PATH=$PATH:/usr/sbin command -v avahi-daemon); then
    daemon=$avahi/usr/sbin/avahi-daemon
    [[ -x $daemon ]] || return 1
    libraries=$(dirname "$(find "$avahi/usr/lib" -name 'libavahi-core.so*' | head -n 1)")
  fi
  ip link add shot0 type veth peer name shot1 &&
    ip address add 10.213.0.1/24 dev shot0 &&
    ip link set shot0 multicast on up &&
    ip link set shot1 up || return 1
  # The daemon runs as the namespace's root but looks its user up first.
  cp /etc/passwd /etc/group "$scratch/"
  echo "avahi:x:0:0:Avahi:/:/usr/sbin/nologin" >>"$scratch/passwd"
  echo "avahi:x:0:" >>"$scratch/group"
  mount --bind "$scratch/passwd" /etc/passwd &&
    mount --bind "$scratch/group" /etc/group &&
    mount -t tmpfs tmpfs /run &&
    mkdir /run/dbus /run/avahi-daemon || return 1
  cat >"$scratch/bus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
CONF
  printf '[server]\nuse-ipv6=no\nallow-interfaces=shot0\n[publish]\npublish-workstation=no\npublish-hinfo=no\n' \
    >"$scratch/avahi.conf"
  dbus-daemon --config-file="$scratch/bus.conf" --fork || return 1
  LD_LIBRARY_PATH=$libraries "$daemon" -f "$scratch/avahi.conf" --no-drop-root --no-chroot --no-rlimits >/dev/null 2>&1 &
  # Ready once the daemon owns its name on the bus (ten seconds at most).
  local attempt
  for attempt in $(seq 20); do
    if dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Avahi 2>/dev/null | grep -q 'boolean true'; then
      return 0
    fi
    sleep 0.5
  done
  return 1
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
