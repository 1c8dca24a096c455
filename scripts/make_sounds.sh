#!/bin/sh
# Makes the seven event sounds under res/sounds/ with sox. Each is a short, soft
# tone figure in the sample format and length the window plays them in:
#   141 sent       two rising plucks        mono 22.05 kHz  8 bit  0.80 s
#   142 failed     two falling soft tones   mono 22.05 kHz  8 bit  0.45 s
#   143 received   three falling plucks     mono 22.05 kHz  8 bit  0.83 s
#   144 request    one bright blip          mono 22.05 kHz  8 bit  0.52 s
#   146 command    a short tick             mono 22.05 kHz 16 bit  0.25 s
#   148 start-up   a rising arpeggio        mono 22.05 kHz  8 bit  1.92 s
#   149 clear      a falling sweep          mono 11.025 kHz 16 bit 2.10 s
# Repeatable (-R) and undithered (-D), so running it again gives the same files.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/res/sounds"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"

SOX="sox -R -D"

# note NAME TYPE LENGTH FREQ FADEOUT: one plucked or soft note at 22.05 kHz.
note() {
    $SOX -n -r 22050 -c 1 -b 16 "$tmp/$1.wav" synth "$3" "$2" "$4" fade q 0.005 "$3" "$5"
}

# finish IN OUT RATE BITS LENGTH: normalise gently, resample, trim/pad to the exact length.
finish() {
    if [ "$4" = 8 ]; then enc="-e unsigned-integer"; else enc="-e signed-integer"; fi
    $SOX -V1 "$1" -r "$3" -c 1 -b "$4" $enc "$2" gain -n -3 pad 0 3.0 trim 0 "$5"
}

# 141: two rising plucks (G5, C6).
note a pluck 0.45 783.99 0.30
note b pluck 0.60 1046.50 0.45
$SOX "$tmp/a.wav" "$tmp/b.wav" "$tmp/141.wav" splice -q 0.25
finish "$tmp/141.wav" "$out/141.wav" 22050 8 0.80

# 142: two falling soft tones (E4, C4), a gentle "no".
note c sine 0.22 329.63 0.08
note d sine 0.30 261.63 0.20
$SOX "$tmp/c.wav" "$tmp/d.wav" "$tmp/142.wav" splice -q 0.20
finish "$tmp/142.wav" "$out/142.wav" 22050 8 0.45

# 143: three falling plucks (E6, C6, G5).
note e pluck 0.30 1318.51 0.15
note f pluck 0.30 1046.50 0.15
note g pluck 0.55 783.99 0.40
$SOX "$tmp/e.wav" "$tmp/f.wav" "$tmp/g.wav" "$tmp/143.wav" splice -q 0.16 0.32
finish "$tmp/143.wav" "$out/143.wav" 22050 8 0.83

# 144: one bright blip (A5 with a soft octave).
$SOX -n -r 22050 -c 1 -b 16 "$tmp/144.wav" synth 0.45 sine 880 sine 1760 remix 1,2 \
    fade q 0.005 0.45 0.38
finish "$tmp/144.wav" "$out/144.wav" 22050 8 0.52

# 146: a short wooden tick.
$SOX -n -r 22050 -c 1 -b 16 "$tmp/146.wav" synth 0.12 pluck 1567.98 fade q 0.002 0.12 0.10
finish "$tmp/146.wav" "$out/146.wav" 22050 16 0.25

# 148: rising arpeggio C5 E5 G5 C6, the last one ringing.
note h pluck 0.40 523.25 0.20
note i pluck 0.40 659.25 0.20
note j pluck 0.40 783.99 0.20
note k pluck 1.30 1046.50 1.00
$SOX "$tmp/h.wav" "$tmp/i.wav" "$tmp/j.wav" "$tmp/k.wav" "$tmp/148.wav" splice -q 0.22 0.44 0.66
finish "$tmp/148.wav" "$out/148.wav" 22050 8 1.92

# 149: a soft falling sweep, like a page wiped clean.
$SOX -n -r 11025 -c 1 -b 16 "$tmp/149.wav" synth 1.9 sine 1200-300 fade q 0.3 1.9 1.2 \
    tremolo 6 30
finish "$tmp/149.wav" "$out/149.wav" 11025 16 2.10

for id in 141 142 143 144 146 148 149; do
    printf '%s: ' "$id"
    soxi -D "$out/$id.wav" | tr '\n' ' '
    soxi -r -b "$out/$id.wav" 2>/dev/null | tr '\n' ' ' || true
    echo
done
