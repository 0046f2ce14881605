#!/usr/bin/env bash
# Draws the pictures of the screenshot library into the folder given (made
# when missing): a few radiograph-, CT-, MRI- and ultrasound-like images of
# realistic sizes, drawn with ImageMagick from shapes, blur and noise, so no
# patient's image is ever used. Names are KIND-N.jpg or KIND-N.png; the
# library generator hands them out to the cases by kind.
set -euo pipefail
out=${1:?usage: screenshot-images.sh DIR}
mkdir -p "$out"

# Film grain and a soft vignette over a drawn picture, then grey.
finish() {
  local source=$1 target=$2 size
  size=$(identify -format '%wx%h' "$source")
  convert "$source" -blur 0x"${3:-6}" \
    \( -size "$size" -seed 7 plasma:grey75-white -colorspace Gray -blur 0x12 \) -compose multiply -composite \
    \( -size "$size" radial-gradient:white-grey35 \) -compose multiply -composite \
    -attenuate "${4:-0.35}" +noise Gaussian -colorspace Gray -blur 0x0.7 -depth 8 "$target"
}

# A chest radiograph, PA: dark lungs with vessel markings in a bright body,
# the mediastinum and heart between them, ribs, clavicles and the spine. $2
# adds enlarged hila.
chest() {
  local target=$1 hila=${2:-} ribs="" side y
  for y in 280 370 460 550 640 730 820 910; do
    for side in left right; do
      if [[ $side == left ]]; then
        ribs+=" path 'M 560,$y C 420,$((y - 70)) 200,$((y - 40)) 120,$((y + 120))'"
      else
        ribs+=" path 'M 640,$y C 780,$((y - 70)) 1000,$((y - 40)) 1080,$((y + 120))'"
      fi
    done
  done
  convert -size 1200x1400 xc:grey6 \
    -fill grey55 -draw "roundrectangle 40,180 1160,1460 260,260 roundrectangle 470,0 730,300 60,60" \
    -fill grey9 -draw "path 'M 520,230 C 380,230 160,520 140,1120 C 260,1040 420,1010 560,1060 L 560,300 Z'" \
    -draw "path 'M 680,230 C 820,230 1040,520 1060,1120 C 940,1040 800,1010 640,1060 L 640,300 Z'" \
    "$out/lungs.png"
  # Vessel markings: a mottled field that only shows where it is brighter
  # than the dark lungs; ribs add their brightness to whatever they cross.
  convert -size 1200x1400 -seed 11 plasma:black-grey50 -colorspace Gray -blur 0x4 \
    -level 30%,95% "$out/vessels.png"
  convert -size 1200x1400 xc:black -fill none -stroke grey22 -strokewidth 18 -draw "$ribs" \
    -stroke grey30 -strokewidth 30 -draw "line 200,290 560,330 line 1000,290 640,330" "$out/ribs.png"
  convert "$out/lungs.png" "$out/vessels.png" -compose lighten -composite \
    -fill grey68 -draw "roundrectangle 545,150 655,1400 40,40" \
    -fill grey62 -draw "ellipse 690,1010 260,180 -10,360" \
    -fill grey58 -draw "ellipse 600,1400 560,330 0,360" \
    -fill grey50 -draw "ellipse 520,620 40,80 0,360 ellipse 685,630 40,80 0,360" \
    ${hila:+-fill grey58 -draw "ellipse 500,630 80,105 0,360 ellipse 705,640 80,105 0,360"} \
    "$out/ribs.png" -compose plus -composite \
    "$out/draw.png"
  finish "$out/draw.png" "$target" 5 0.3
}

# An axial CT slice of the abdomen: body, fat, liver, spleen, kidneys, aorta
# and a vertebra on black.
ct_abdomen() {
  local target=$1 lesion=${2:-}
  convert -size 1024x1024 xc:black \
    -fill grey30 -draw "ellipse 512,520 430,330 0,360" \
    -fill grey50 -draw "ellipse 512,520 405,305 0,360" \
    -fill grey56 -draw "ellipse 330,460 200,190 0,360" \
    -fill grey55 -draw "ellipse 760,430 110,120 0,360" \
    -fill grey62 -draw "ellipse 380,640 55,80 0,360 ellipse 650,640 55,80 0,360" \
    -fill grey80 -draw "circle 540,560 540,590" \
    -fill grey92 -draw "ellipse 512,700 70,60 0,360 rectangle 490,700 534,800" \
    -fill grey40 -draw "ellipse 560,400 90,50 0,360" \
    ${lesion:+-fill grey38 -draw "circle 300,430 300,485"} \
    "$out/draw.png"
  finish "$out/draw.png" "$target" 3 0.25
}

# An axial MRI of the head: scalp, skull, brain, ventricles and a lesion.
mri_head() {
  local target=$1 lesion=${2:-}
  convert -size 900x1000 xc:black \
    -fill grey55 -draw "ellipse 450,500 330,420 0,360" \
    -fill grey10 -draw "ellipse 450,500 305,395 0,360" \
    -fill grey48 -draw "ellipse 450,500 285,375 0,360" \
    -fill grey36 -draw "ellipse 450,500 230,320 0,360" \
    -fill grey85 -draw "ellipse 400,480 28,110 0,360 ellipse 500,480 28,110 0,360 ellipse 450,620 30,22 0,360" \
    ${lesion:+-fill grey80 -draw "circle 610,380 610,450" -fill grey30 -draw "circle 610,380 610,420"} \
    "$out/draw.png"
  finish "$out/draw.png" "$target" 4 0.3
}

# An ultrasound sector: speckle inside a fan, an organ edge and a dark cyst.
ultrasound() {
  local target=$1
  convert -size 1000x760 xc:black -fill white \
    -draw "path 'M 430,40 L 570,40 L 960,700 A 520,520 0 0,1 40,700 Z'" "$out/fan.png"
  convert -size 1000x760 xc:grey25 -attenuate 1.6 +noise Multiplicative -blur 0x1.2 \
    -fill grey55 -draw "ellipse 520,420 300,120 0,360" \
    -fill grey6 -draw "ellipse 600,440 80,55 0,360" \
    -blur 0x2 -attenuate 1.2 +noise Multiplicative -blur 0x1 \
    \( "$out/fan.png" -blur 0x3 \) -compose multiply -composite -colorspace Gray "$target"
}

# A radiograph of the wrist and hand: radius, ulna, carpals and metacarpals.
wrist() {
  local target=$1 fracture=${2:-} bones="" x
  for x in 330 420 510 600; do
    bones+=" roundrectangle $((x - 28)),160 $((x + 28)),520 25,25"
  done
  convert -size 1000x1300 xc:grey10 \
    -fill grey35 -draw "roundrectangle 220,80 760,1300 200,200" \
    -fill grey75 -draw "$bones roundrectangle 180,520 250,800 30,30" \
    -draw "circle 330,620 330,670 circle 430,610 430,660 circle 530,615 530,665 circle 380,720 380,775 circle 490,720 490,775 ellipse 610,700 60,45 0,360" \
    -draw "roundrectangle 330,820 560,1300 60,60 roundrectangle 590,860 680,1300 40,40" \
    ${fracture:+-stroke grey20 -strokewidth 5 -draw "line 345,700 420,740"} \
    "$out/draw.png"
  finish "$out/draw.png" "$target" 4 0.3
}

# A frontal radiograph of the pelvis: iliac wings, femoral heads and necks.
pelvis() {
  local target=$1 head=690
  [[ -n ${2:-} ]] && head=650
  convert -size 1300x1000 xc:grey14 \
    -fill grey45 -draw "ellipse 650,520 640,460 0,360" \
    -fill grey72 -draw "ellipse 380,300 230,200 0,360 ellipse 920,300 230,200 0,360 roundrectangle 560,150 740,520 40,40" \
    -fill grey30 -draw "ellipse 650,640 150,120 0,360" \
    -fill grey76 -draw "circle 360,600 360,$head circle 940,600 940,690" \
    -draw "polygon 340,620 400,700 330,1000 230,1000 280,700 polygon 960,620 900,700 970,1000 1070,1000 1020,700" \
    "$out/draw.png"
  finish "$out/draw.png" "$target" 5 0.3
}

chest "$out/chest-1.jpg"
chest "$out/chest-2.jpg" hila
convert "$out/chest-2.jpg" "$out/chest-2.png"
ct_abdomen "$out/ct-1.png"
ct_abdomen "$out/ct-2.png" lesion
mri_head "$out/mri-1.png"
mri_head "$out/mri-2.png" lesion
ultrasound "$out/us-1.jpg"
wrist "$out/wrist-1.jpg"
wrist "$out/wrist-2.jpg" fracture
pelvis "$out/pelvis-1.jpg"
pelvis "$out/pelvis-2.jpg" flat
for picture in "$out"/*.jpg; do
  mogrify -quality 88 "$picture"
done
rm -f "$out"/{draw,fan,lungs,ribs,vessels}.png
