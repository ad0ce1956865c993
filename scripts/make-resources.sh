#!/usr/bin/env bash
# Draws Tovix's icon set (every image at 1x and 2x) and makes the end-of-run
# chime. Output is committed under resources/; run this after changing a design.
# Needs ImageMagick and ffmpeg (both in scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/../resources"
img=images
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT

# tile NAME SIZE TOP BOTTOM GLYPH-MVG: a rounded tile with a vertical gradient
# and a white glyph, drawn on a 64-unit grid, written at SIZE and at 2*SIZE.
tile() {
  local name=$1 size=$2 top=$3 bottom=$4 glyph=$5
  local big=256
  convert -size ${big}x${big} gradient:"$top"-"$bottom" \
    \( -size ${big}x${big} xc:none -fill white -draw "roundrectangle 12,12 244,244 56,56" \) \
    -compose CopyOpacity -composite \
    \( -size ${big}x${big} xc:none -fill '#ffffff28' -draw "roundrectangle 12,12 244,128 56,56" \) \
    -compose Over -composite \
    \( -size ${big}x${big} xc:none -draw "affine 4,0,0,4,0,0 $glyph" \) -compose Over -composite \
    "$work/$name.png"
  convert "$work/$name.png" -filter Lanczos -resize ${size}x${size} "$img/$name.png"
  convert "$work/$name.png" -filter Lanczos -resize $((size * 2))x$((size * 2)) "$img/$name@2x.png"
}

# glyph NAME SIZE GLYPH-MVG: a glyph alone on a clear background.
glyph() {
  local name=$1 size=$2 shape=$3
  convert -size 256x256 xc:none -draw "affine 4,0,0,4,0,0 $shape" "$work/$name.png"
  convert "$work/$name.png" -filter Lanczos -resize ${size}x${size} "$img/$name.png"
  convert "$work/$name.png" -filter Lanczos -resize $((size * 2))x$((size * 2)) "$img/$name@2x.png"
}

W="fill white stroke none"
WS="fill none stroke white stroke-width 5 stroke-linecap round stroke-linejoin round"

tile TB_Add 32 '#6fd16b' '#2e9e3e' "$W roundrectangle 28,14 36,50 3,3 roundrectangle 14,28 50,36 3,3"
tile TB_Start 32 '#5fd37a' '#1e9a47' "$W path 'M 24,16 L 50,32 L 24,48 Z'"
tile TB_Stop 32 '#ff7a6b' '#d23a2c' "$W roundrectangle 19,19 45,45 5,5"
tile TB_preview 32 '#6ab8ff' '#2369d9' "$WS ellipse 32,32 19,12 0,360 $W circle 32,32 32,39"
tile TB_GetInfo 32 '#8fa4ff' '#4a5ad6' "$W circle 32,19 32,23.5 roundrectangle 28,28 36,50 3,3"
tile TB_log 32 '#c6cbd6' '#7b8496' "$W roundrectangle 17,12 47,52 4,4 fill '#7b8496' roundrectangle 22,21 42,24 1,1 roundrectangle 22,29 42,32 1,1 roundrectangle 22,37 36,40 1,1"
tile TB_clear_finished 32 '#ffd36b' '#e09a1f' "$WS polyline 19,33 28,42 46,22"
tile TB_clear_all 32 '#ffa36b' '#d8602a' "$W path 'M 20,22 L 44,22 L 41,50 L 23,50 Z' roundrectangle 16,16 48,20 2,2 roundrectangle 27,12 37,16 2,2"
tile TB_clear_log 32 '#c6cbd6' '#7b8496' "$W roundrectangle 17,12 47,52 4,4 stroke '#d23a2c' stroke-width 5 stroke-linecap round line 24,26 40,42 line 40,26 24,42"
tile preficon_general 32 '#b4bcc9' '#687386' "$W circle 32,32 32,14 fill '#687386' circle 32,32 32,24 $W circle 32,32 32,28"
tile preficon_SWUpdate 32 '#7fd0ff' '#2386d6' "$WS line 32,14 32,40 polyline 21,30 32,41 43,30 line 18,50 46,50"
tile tovix 128 '#3a4150' '#101218' "$W roundrectangle 10,18 54,46 4,4 fill '#101218' roundrectangle 14,22 50,42 2,2 fill '#ffb23e' path 'M 27,25 L 41,32 L 27,39 Z'"

glyph b_remove_red_up 16 "fill '#e5483a' circle 32,32 32,8 fill white roundrectangle 19,29 45,35 2,2"
glyph LI_encoded_ok 16 "fill '#35b552' circle 32,32 32,6 fill none stroke white stroke-width 6 stroke-linecap round stroke-linejoin round polyline 20,33 29,42 45,23"
glyph LI_ok_to_encode2 16 "fill none stroke '#8fa0b8' stroke-width 5 circle 32,32 32,9 fill '#8fa0b8' stroke none circle 32,32 32,23"
glyph LI_encode_failed 16 "fill '#e5483a' circle 32,32 32,6 fill none stroke white stroke-width 6 stroke-linecap round line 23,23 41,41 line 41,23 23,41"
glyph HUD_Play 24 "fill white path 'M 20,12 L 52,32 L 20,52 Z'"
glyph HUD_Pause 24 "fill white roundrectangle 16,12 27,52 3,3 roundrectangle 37,12 48,52 3,3"
glyph hud_speaker 24 "fill white path 'M 8,24 L 20,24 L 34,12 L 34,52 L 20,40 L 8,40 Z' fill none stroke white stroke-width 4 stroke-linecap round path 'M 42,22 Q 48,32 42,42' path 'M 48,16 Q 58,32 48,48'"
glyph hud_speaker_off 24 "fill white path 'M 8,24 L 20,24 L 34,12 L 34,52 L 20,40 L 8,40 Z' fill none stroke white stroke-width 4 stroke-linecap round line 42,24 56,40 line 56,24 42,40"

# A soft two-note chime: a fifth, each note with its own decay.
ffmpeg -v error -y -f lavfi -i "aevalsrc=exprs='0.32*sin(2*PI*880*t)*exp(-5*t)+0.22*sin(2*PI*1318.5*t)*exp(-4*t)*gte(t\,0.12)+0.05*sin(2*PI*2637*t)*exp(-9*t)':s=44100:d=1.2" \
  -af "afade=t=in:d=0.005,afade=t=out:st=1.0:d=0.2" -c:a pcm_s16be sounds/Finished.aiff
echo "resources written"
