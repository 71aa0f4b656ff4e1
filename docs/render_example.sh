#!/usr/bin/env bash
# Renders a ROK model as rokconv converts it, as a small PNG picture.
#
#   docs/render_example.sh [ROK] [PNG]        (defaults: examples/cube.rok docs/cube.png)
#
# The model is converted with the rokconv named by $ROKCONV (default: build/rokconv of this
# tree), and the .LWO it writes is shown with OpenSceneGraph's osgviewer in a virtual X
# display, turned so that three faces show, and photographed.
# Needs (Debian): openscenegraph xvfb xauth imagemagick
# Settings: ROKCONV (the program), RENDER_TIMEOUT (seconds to wait for the first frame, 30).
set -eu

die() {
    echo "render_example: $*" >&2
    exit 1
}

docs=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$docs")
rok=${1:-$root/examples/cube.rok}
png=${2:-$docs/cube.png}
rokconv=${ROKCONV:-$root/build/rokconv}
wait_limit=${RENDER_TIMEOUT:-30}

for tool in osgconv osgviewer xvfb-run import convert; do
    command -v "$tool" >/dev/null ||
        die "$tool is missing (apt-get install openscenegraph xvfb xauth imagemagick)"
done
[ -x "$rokconv" ] || die "no rokconv at $rokconv: build it, or set ROKCONV"
[ -f "$rok" ] || die "no such model: $rok"
# absolute paths, since the work happens in a scratch directory
rok=$(cd "$(dirname "$rok")" && pwd)/$(basename "$rok")
rokconv=$(cd "$(dirname "$rokconv")" && pwd)/$(basename "$rokconv")
mkdir -p "$(dirname "$png")"
png=$(cd "$(dirname "$png")" && pwd)/$(basename "$png")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# rokconv writes NAME.LWO into the current directory
name=$(basename "$rok")
case $name in *.*) name=${name%.*} ;; esac
"$rokconv" "$rok" >convert.log || die "rokconv failed: $(cat convert.log)"
lwo=$name.LWO
[ -s "$lwo" ] || die "rokconv wrote no $lwo (is $rok a ROK file?)"

# Turn the model 35 degrees about the vertical axis, then tip it 30 degrees towards the
# viewer, so that a side, the front and the top can be seen.
osgconv -o 35-0,0,1 "$lwo" turned.osgt >osgconv.log 2>&1 || die "osgconv cannot read $lwo: $(cat osgconv.log)"
osgconv -o 30-1,0,0 turned.osgt tipped.osgt >>osgconv.log 2>&1 || die "osgconv failed: $(cat osgconv.log)"

# rokconv's surfaces are double-sided, and a face's winding follows the order in which the
# ROK file lists its edges, so some faces point inwards. osgviewer lights only front faces
# unless told otherwise: give the scene's root a two-sided light model (and some ambient
# light) before its children.
cat >lightmodel.txt <<'EOF'
  StateSet TRUE {
    osg::StateSet {
      UniqueID 100000
      AttributeList 1 {
        osg::LightModel {
          UniqueID 100001
          AmbientIntensity 0.35 0.35 0.35 1
          ColorControl SINGLE_COLOR
          LocalViewer FALSE
          TwoSided TRUE
        }
        Value ON
      }
    }
  }
EOF
awk 'NR == FNR { block = block $0 "\n"; next }
     /^  Children / && !done { printf "%s", block; done = 1 }
     { print }
     END { if (!done) exit 1 }' lightmodel.txt tipped.osgt >scene.osgt ||
    die "unexpected osgconv output: no root Children list in tipped.osgt"

# Show it in a virtual screen and take a picture once something is drawn: the screen starts
# black, and the viewer clears to white.
cat >shoot.sh <<EOF
osgviewer --window 0 0 800 600 --clear-color 1,1,1,1 --samples 4 scene.osgt >viewer.log 2>&1 &
viewer=\$!
for i in \$(seq $((wait_limit * 2))); do
    sleep 0.5
    kill -0 \$viewer 2>/dev/null || { echo "osgviewer stopped: \$(cat viewer.log)"; exit 1; }
    import -window root shot.png 2>/dev/null || continue
    # white background and something on it: the frame is there; wait for one more to be safe
    if [ "\$(convert shot.png -format '%[fx:maxima.r>0.99 && minima.r<0.9 ? 1 : 0]' info:)" = 1 ]; then
        sleep 1
        import -window root shot.png
        kill \$viewer
        wait \$viewer 2>/dev/null
        exit 0
    fi
done
kill \$viewer
echo "nothing was drawn in $wait_limit seconds"
exit 1
EOF
xvfb-run -a -s "-screen 0 800x600x24" bash shoot.sh >shoot.log 2>&1 || die "rendering failed: $(cat shoot.log)"

# Cut the model out of the white background, centre it on a 400x300 picture with a margin,
# and keep the file small: 64 colours, no time stamps or other metadata.
convert shot.png -trim +repage -resize 340x250 -background white -gravity center \
    -extent 400x300 +dither -colors 64 -strip -define png:exclude-chunks=date,time \
    "PNG8:$png" || die "cannot write $png"
echo "render_example: wrote $png ($(stat -c %s "$png") bytes)"
