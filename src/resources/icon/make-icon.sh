#!/usr/bin/env bash
# Draws the program icon (resource 100): a rounded dark-blue square with a
# faceted amber stone, at 16, 32 and 48 pixels, into one .ico file.
# Usage: make-icon.sh CONVERT OUTPUT.ico
# CONVERT is ImageMagick's convert. Each size is drawn on its own: 32 and 48
# from the shapes below, 16 from a pixel map so that its edges stay sharp.
# Nothing here depends on the time or the machine, so every build writes the
# same bytes.
set -euo pipefail
export LC_ALL=C
convert=$1
output=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Facet colours, light coming from the upper left.
blue='#1d3a5f'
blueEdge='#10243d'
line='#7a4205'

# point X Y SIZE: a shape point given in 1/100 of the icon's side. convert
# puts pixel centres on whole numbers (the icon's edges are at -0.5 and
# SIZE - 0.5); points snap to them so that the one-pixel facet lines stay
# sharp, except on the middle line, which falls between two pixels.
point() {
    awk -v x="$1" -v y="$2" -v s="$3" 'function snap(v, p) {
        p = v * s / 100 - 0.5
        return v == 50 ? p : int(p + 0.5)
    }
    BEGIN { printf "%s,%s", snap(x), snap(y) }'
}

# The stone: table corners T1 T2, girdle points G0..G4, tip P.
draw_large() {
    local s=$1 out=$2
    local t1 t2 g0 g1 g2 g3 g4 p radius
    t1=$(point 34 25 "$s"); t2=$(point 66 25 "$s")
    g0=$(point 15 44 "$s"); g1=$(point 36 44 "$s"); g2=$(point 50 44 "$s")
    g3=$(point 64 44 "$s"); g4=$(point 85 44 "$s"); p=$(point 50 83 "$s")
    radius=$(awk -v s="$s" 'BEGIN { printf "%.2f", s * 0.19 }')
    "$convert" -size "${s}x${s}" xc:none -antialias \
        -fill "$blue" -stroke "$blueEdge" -strokewidth 1 \
        -draw "roundrectangle 0,0 $((s - 1)),$((s - 1)) $radius,$radius" \
        -stroke "$line" -strokewidth 1 -draw "stroke-linejoin round" \
        -fill '#ffd45c' -draw "polygon $g0 $t1 $g1" \
        -fill '#ffe69a' -draw "polygon $t1 $t2 $g2" \
        -fill '#ffc940' -draw "polygon $t1 $g2 $g1" \
        -fill '#f2ae25' -draw "polygon $t2 $g3 $g2" \
        -fill '#d98a12' -draw "polygon $t2 $g4 $g3" \
        -fill '#f0a526' -draw "polygon $g0 $g1 $p" \
        -fill '#ffc23a' -draw "polygon $g1 $g2 $p" \
        -fill '#e0921a' -draw "polygon $g2 $g3 $p" \
        -fill '#b66a0c' -draw "polygon $g3 $g4 $p" \
        -define png:exclude-chunks=date,time "PNG32:$out"
}

# The 16-pixel icon, one character per pixel.
draw_small() {
    local out=$1
    local map=(
        '.qBBBBBBBBBBBBq.'
        'qBBBBBBBBBBBBBBq'
        'BBBBBBBBBBBBBBBB'
        'BBBBlWWWWWWaBBBB'
        'BBBlyYWWWWAaaBBB'
        'BBlyyyYWWAAaadBB'
        'BBooooooooooooBB'
        'BBBAAyyyyaaadBBB'
        'BBBBAAyyyaadBBBB'
        'BBBBBAyyaadBBBBB'
        'BBBBBBAyadBBBBBB'
        'BBBBBBBAdBBBBBBB'
        'BBBBBBBBBBBBBBBB'
        'BBBBBBBBBBBBBBBB'
        'qBBBBBBBBBBBBBBq'
        '.qBBBBBBBBBBBBq.'
    )
    local text="$work/small.txt" row col c colour
    echo '# ImageMagick pixel enumeration: 16,16,255,srgba' >"$text"
    for row in $(seq 0 15); do
        for col in $(seq 0 15); do
            c=${map[$row]:$col:1}
            case $c in
                .) colour='0,0,0,0' ;;
                q) colour='29,58,95,115' ;;
                B) colour='29,58,95,255' ;;
                W) colour='255,238,176,255' ;;
                l) colour='255,212,92,255' ;;
                Y) colour='255,201,64,255' ;;
                y) colour='255,194,58,255' ;;
                A) colour='240,165,38,255' ;;
                a) colour='217,138,18,255' ;;
                d) colour='160,92,10,255' ;;
                o) colour='150,84,8,255' ;;
            esac
            echo "$col,$row: ($colour)" >>"$text"
        done
    done
    "$convert" "$text" -define png:exclude-chunks=date,time "PNG32:$out"
}

draw_small "$work/16.png"
draw_large 32 "$work/32.png"
draw_large 48 "$work/48.png"
"$convert" "$work/16.png" "$work/32.png" "$work/48.png" "$work/icon.ico"
mv "$work/icon.ico" "$output"
