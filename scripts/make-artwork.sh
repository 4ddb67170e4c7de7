#!/usr/bin/env bash
# Draws Ordana's artwork with ImageMagick (Debian's imagemagick package) and writes it into src/app/resources/:
#   title.jpg, title@2x.jpg   450 x 377 (and twice that), 72 dpi: the main window's title picture
#   about.jpg, about@2x.jpg   197 x 223 (and twice that), 72 dpi: the About box picture
#   ordana.png, ordana@2x.png 48 x 48, 256 colours (and 96 x 96): the application icon in the windows
#   icons/ordana-N.png        the icon in the freedesktop sizes 16 to 256, and icons/ordana.svg
#   ordana.ico                48, 32 and 16 for Windows
# Each picture is drawn at every size from the same vector description, never scaled up from a bitmap.
# The pictures are committed; run this again only to change them. Output is deterministic.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/src/app/resources"
convert=/usr/bin/convert
[ -x "$convert" ] || { echo "make-artwork: needs ImageMagick (apt-get install imagemagick)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

serif_bold=DejaVu-Serif-Bold
serif_italic=DejaVu-Serif-Italic
sans=DejaVu-Sans
ink='#2b3a24'
moss='#2f5d2a'
wood='#8a5a2b'

# A leaf lying along +x from its base at the origin, turned and placed: x y angle length width fill.
leaf() {
    local x=$1 y=$2 a=$3 l=$4 w=$5 fill=$6
    awk -v x="$x" -v y="$y" -v a="$a" -v l="$l" -v w="$w" -v f="$fill" 'BEGIN {
        printf "push graphic-context\n translate %s,%s rotate %s\n", x, y, a
        printf " fill \"%s\" stroke \"#1f3d1a\" stroke-width %.2f\n", f, (l > 40 ? 1.2 : 0.8)
        printf " path \"M 0,0 C %.1f,%.1f %.1f,%.1f %.1f,0 C %.1f,%.1f %.1f,%.1f 0,0 Z\"\n",
               l * 0.25, -w, l * 0.7, -w * 0.9, l, l * 0.7, w * 0.9, l * 0.25, w
        printf " fill none stroke \"#d9e8c4\" stroke-width %.2f\n", (l > 40 ? 1.0 : 0.6)
        printf " path \"M %.1f,0 L %.1f,0\"\n", l * 0.08, l * 0.9
        for (i = 1; i <= 3; i++) {
            vx = l * (0.2 + 0.2 * i)
            printf " path \"M %.1f,0 L %.1f,%.1f M %.1f,0 L %.1f,%.1f\"\n",
                   vx - l * 0.12, vx, -w * 0.55, vx - l * 0.12, vx, w * 0.55
        }
        printf "pop graphic-context\n"
    }'
}

# A square sampling frame with its string grid: x y size cells.
quadrat() {
    local x=$1 y=$2 s=$3 n=$4
    awk -v x="$x" -v y="$y" -v s="$s" -v n="$n" -v wood="$wood" 'BEGIN {
        printf "fill \"#f7f3df\" fill-opacity 0.55 stroke none rectangle %d,%d %d,%d\n", x, y, x + s, y + s
        printf "fill-opacity 1 fill none stroke \"#b8946a\" stroke-width 1\n"
        for (i = 1; i < n; i++) {
            p = s * i / n
            printf "line %.1f,%d %.1f,%d\nline %d,%.1f %d,%.1f\n", x + p, y, x + p, y + s, x, y + p, x + s, y + p
        }
        printf "stroke \"%s\" stroke-width 4 fill none rectangle %d,%d %d,%d\n", wood, x, y, x + s, y + s
        printf "fill \"%s\" stroke none\n", wood
        printf "circle %d,%d %d,%d\ncircle %d,%d %d,%d\n", x, y, x + 4, y, x + s, y, x + s + 4, y
        printf "circle %d,%d %d,%d\ncircle %d,%d %d,%d\n", x, y + s, x + 4, y + s, x + s, y + s, x + s + 4, y + s
    }'
}

# Small five-petal flowers: x y radius colour.
flower() {
    awk -v x="$1" -v y="$2" -v r="$3" -v c="$4" 'BEGIN {
        printf "fill \"%s\" stroke \"#6b5a30\" stroke-width 0.5\n", c
        for (i = 0; i < 5; i++) {
            a = 3.14159265 * 2 * i / 5 - 1.5708
            px = x + r * 0.55 * cos(a); py = y + r * 0.55 * sin(a)
            printf "circle %.1f,%.1f %.1f,%.1f\n", px, py, px + r * 0.5, py
        }
        printf "fill \"#f2c94c\" stroke none circle %s,%s %.1f,%s\n", x, y, x + r * 0.35, y
    }'
}

# A rank-abundance (Whittaker) plot of a geometric series: x0 y0 (origin) width height points.
rank_abundance() {
    local x0=$1 y0=$2 w=$3 h=$4 n=$5 font=$6
    awk -v x0="$x0" -v y0="$y0" -v w="$w" -v h="$h" -v n="$n" -v ink="$ink" -v moss="$moss" -v font="$font" 'BEGIN {
        printf "fill \"#fbfaf2\" fill-opacity 0.7 stroke none rectangle %d,%d %d,%d\n", x0, y0 - h, x0 + w, y0
        printf "fill-opacity 1 stroke \"#c9d3b8\" stroke-width 1 fill none\n"
        for (i = 1; i <= 3; i++) printf "line %d,%.1f %d,%.1f\n", x0, y0 - h * i / 3, x0 + w, y0 - h * i / 3
        printf "stroke \"%s\" stroke-width 1.5\n", ink
        printf "line %d,%d %d,%d\nline %d,%d %d,%d\n", x0, y0 - h, x0, y0, x0, y0, x0 + w, y0
        printf "fill \"%s\" stroke none path \"M %d,%d L %d,%d L %d,%d Z\"\n", ink, x0 - 4, y0 - h, x0 + 4, y0 - h, x0, y0 - h - 8
        printf "path \"M %d,%d L %d,%d L %d,%d Z\"\n", x0 + w, y0 - 4, x0 + w, y0 + 4, x0 + w + 8, y0
        # A lognormal-looking community: a few common species, a long tail of rare ones.
        split("120 64 41 30 23 18 14 11 8 5 3 1", abundance, " ")
        top = log(140)
        pts = ""
        for (i = 1; i <= n; i++) {
            ab = abundance[i]
            px[i] = x0 + 10 + (w - 22) * (i - 1) / (n - 1)
            py[i] = y0 - 8 - (h - 20) * log(ab + 1) / top
            if (i > 1) pts = pts sprintf(" line %.1f,%.1f %.1f,%.1f", px[i - 1], py[i - 1], px[i], py[i])
        }
        # Segments rather than a polyline: scaled, ImageMagick closes an open polyline with a chord.
        printf "fill none stroke \"%s\" stroke-width 2 stroke-linecap round%s\n", moss, pts
        for (i = 1; i <= n; i++)
            printf "fill \"#7fb24a\" stroke \"%s\" stroke-width 1.2 circle %.1f,%.1f %.1f,%.1f\n", moss, px[i], py[i], px[i] + 3.5, py[i]
        printf "fill \"%s\" stroke none font \"%s\" font-size 11 text-anchor middle\n", ink, font
        printf "text %d,%d \"rangul speciei\"\n", x0 + w / 2, y0 + 15
        printf "push graphic-context translate %d,%d rotate -90 text 0,0 \"abundenta (log)\" pop graphic-context\n", x0 - 8, y0 - h / 2
    }'
}

# --- The title picture -------------------------------------------------------------------------
{
    echo "viewbox 0 0 450 377"
    # ORDANA with a soft shadow, the tagline and a rule.
    echo "font \"$serif_bold\" font-size 64 text-anchor middle"
    echo "fill \"#b9c9a4\" stroke none text 227,86 \"ORDANA\""
    echo "fill \"$moss\" stroke \"#1f3d1a\" stroke-width 0.8 text 225,84 \"ORDANA\""
    echo "font \"$serif_italic\" font-size 16 stroke none fill \"#4a6a3f\" text 225,110 \"evaluarea biodiversitatii\""
    echo "stroke \"$wood\" stroke-width 1.5 line 95,122 355,122"
    echo "fill \"$wood\" stroke none circle 225,122 228,122"
    # A sprig in each top corner.
    leaf 22 30 -35 44 11 '#5f9a3a'
    leaf 22 30 20 36 9 '#4d8a32'
    leaf 22 30 -80 30 8 '#72ad48'
    leaf 428 30 215 44 11 '#5f9a3a'
    leaf 428 30 160 36 9 '#4d8a32'
    leaf 428 30 260 30 8 '#72ad48'
    # The quadrat with its plants, on the left.
    quadrat 30 150 170 4
    leaf 62 300 -60 58 14 '#4d8a32'
    leaf 62 300 -105 48 12 '#5f9a3a'
    leaf 62 300 -18 40 10 '#72ad48'
    leaf 150 220 200 42 9 '#3f7a2c'
    leaf 150 220 250 36 8 '#5f9a3a'
    leaf 160 300 -75 30 7 '#86b85a'
    leaf 160 300 -125 28 7 '#6aa444'
    leaf 110 180 30 26 6 '#86b85a'
    flower 92 200 6 '#ffffff'
    flower 182 172 5 '#c98bd8'
    flower 128 262 5 '#ffffff'
    flower 178 262 6 '#e8a23c'
    flower 52 170 5 '#c98bd8'
    flower 100 306 5 '#e8a23c'
    # The rank-abundance curve, on the right.
    rank_abundance 258 318 168 162 12 "$sans"
} >"$work/title.mvg"

# The picture at a scale: the drawing's coordinates are those of the 1x picture.
picture() {
    local mvg=$1 w=$2 h=$3 scale=$4 file=$5
    "$convert" -size $((w * scale))x$((h * scale)) 'gradient:#f6f3e6-#dce8c9' \
        -draw "affine $scale 0 0 $scale 0 0 $(cat "$mvg")" \
        -strip -sampling-factor 1x1 -quality 92 -units PixelsPerInch -density $((72 * scale)) "$file"
}
picture "$work/title.mvg" 450 377 1 "$out/title.jpg"
picture "$work/title.mvg" 450 377 2 "$out/title@2x.jpg"

# --- The About picture -------------------------------------------------------------------------
{
    echo "viewbox 0 0 197 223"
    quadrat 18 18 150 3
    leaf 40 190 -70 70 16 '#4d8a32'
    leaf 40 190 -35 58 13 '#5f9a3a'
    leaf 40 190 -105 50 12 '#72ad48'
    leaf 125 120 210 44 10 '#3f7a2c'
    leaf 125 120 260 38 9 '#86b85a'
    leaf 150 60 160 28 7 '#6aa444'
    flower 70 50 6 '#ffffff'
    flower 140 150 6 '#e8a23c'
    flower 100 95 5 '#c98bd8'
    flower 150 40 4 '#ffffff'
    echo "font \"$serif_bold\" font-size 22 text-anchor middle fill \"$moss\" stroke none text 98,212 \"ORDANA\""
} >"$work/about.mvg"

picture "$work/about.mvg" 197 223 1 "$out/about.jpg"
picture "$work/about.mvg" 197 223 2 "$out/about@2x.jpg"

# --- The icon: drawn at 4x and reduced, so the small sizes stay smooth ------------------------
{
    echo "viewbox 0 0 192 192"
    echo "fill \"#eef3e2\" stroke \"#6b4a24\" stroke-width 6 roundrectangle 6,6 186,186 26,26"
    echo "fill none stroke \"#b8946a\" stroke-width 4"
    echo "line 66,22 66,170 line 126,22 126,170 line 22,66 170,66 line 22,126 170,126"
    echo "stroke \"$wood\" stroke-width 10 rectangle 22,22 170,170"
    leaf 40 156 -45 150 40 '#4d8a32'
    leaf 40 156 -80 80 20 '#72ad48'
    leaf 40 156 -10 80 20 '#5f9a3a'
} >"$work/icon.mvg"

# Drawn at 1024 and reduced, so every size is sharp; the 48 of the windows keeps its 256 colours.
"$convert" -size 1024x1024 xc:none -draw "affine 5.3333 0 0 5.3333 0 0 $(cat "$work/icon.mvg")" "$work/icon1024.png"
"$convert" "$work/icon1024.png" -filter Lanczos -resize 48x48 -strip -colors 256 "PNG8:$out/ordana.png"
"$convert" "$work/icon1024.png" -filter Lanczos -resize 96x96 -strip "PNG32:$out/ordana@2x.png"
mkdir -p "$out/icons"
for size in 16 22 24 32 48 64 128 256; do
    "$convert" "$work/icon1024.png" -filter Lanczos -resize ${size}x${size} -strip "PNG32:$out/icons/ordana-$size.png"
done
"$convert" "$work/icon1024.png" -filter Lanczos -define icon:auto-resize=48,32,16 -colors 256 "$out/ordana.ico"

# The same icon as SVG, from the same shapes.
leaf_svg() {
    leaf "$@" | awk '
        /push graphic-context/ { next }
        /translate/ { split($0, t, " "); tr = "translate(" t[2] ") rotate(" t[4] ")"; next }
        /stroke "/ { f = "none"; if (match($0, /fill "[^"]*"/)) f = substr($0, RSTART + 6, RLENGTH - 7)
                                match($0, /stroke "[^"]*"/); st = substr($0, RSTART + 8, RLENGTH - 9)
                                match($0, /stroke-width [0-9.]+/); sw = substr($0, RSTART + 13, RLENGTH - 13); next }
        /path "/ { match($0, /"[^"]*"/); d = substr($0, RSTART + 1, RLENGTH - 2)
                   printf "  <path transform=\"%s\" d=\"%s\" fill=\"%s\" stroke=\"%s\" stroke-width=\"%s\"/>\n", tr, d, f, st, sw }
        /pop graphic-context/ { next }'
}
{
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<svg xmlns="http://www.w3.org/2000/svg" width="192" height="192" viewBox="0 0 192 192">'
    echo '  <rect x="6" y="6" width="180" height="180" rx="26" fill="#eef3e2" stroke="#6b4a24" stroke-width="6"/>'
    echo '  <path d="M66,22 V170 M126,22 V170 M22,66 H170 M22,126 H170" fill="none" stroke="#b8946a" stroke-width="4"/>'
    echo "  <rect x=\"22\" y=\"22\" width=\"148\" height=\"148\" fill=\"none\" stroke=\"$wood\" stroke-width=\"10\"/>"
    leaf_svg 40 156 -45 150 40 '#4d8a32'
    leaf_svg 40 156 -80 80 20 '#72ad48'
    leaf_svg 40 156 -10 80 20 '#5f9a3a'
    echo '</svg>'
} >"$out/icons/ordana.svg"

echo "make-artwork: wrote the pictures at 1x and 2x, the icons and ordana.ico in $out"
