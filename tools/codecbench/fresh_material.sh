#!/usr/bin/env bash
# Makes a set of material the speed table was never tuned on: five 30 s
# recordings from ffmpeg's synthesizers, each a kind of sound the table's own
# materials do not make, encoded as .ape files into DIR (default
# build/bench-fresh). Time them with
#   tools/bench.sh --table --real DIR --only fresh
# (the table repeats each to its length and encodes it at every level).
# Usage: tools/codecbench/fresh_material.sh [DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$root/build/bench-fresh}
mkdir -p "$out"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >"$root/build/release.configure.log" 2>&1
cmake --build "$root/build/release" -j"$(nproc)" --target apeenc >/dev/null
encoder=$root/build/release/tools/apeenc/apeenc

# synthesize NAME SAMPLE_FORMAT FFMPEG_INPUT_ARGUMENTS...
synthesize() {
    local name=$1 format=$2
    shift 2
    ffmpeg -nostdin -v error -y "$@" -t 30 -c:a "pcm_$format" "$out/$name.wav"
    "$encoder" "$out/$name.wav" "$out/$name.ape" >/dev/null
    rm "$out/$name.wav"
}

# Piano-like notes that decay, a new one every 0.4 s: 16-bit stereo, 44.1 kHz.
note='(220+110*mod(floor(t/0.4),5))'
synthesize fresh-piano16 s16le -f lavfi -i "aevalsrc=exprs='0.25*exp(-3*mod(t,0.4))*(sin(2*PI*$note*t)+0.5*sin(4*PI*$note*t)+0.25*sin(6*PI*$note*t))|0.25*exp(-3*mod(t+0.1,0.4))*(sin(2*PI*(330+55*mod(floor(t/0.4),7))*t)+0.3*sin(6*PI*(330+55*mod(floor(t/0.4),7))*t))':s=44100:c=stereo"
# Detuned voices with vibrato and a little noise: 24-bit stereo, 48 kHz.
synthesize fresh-choir24 s24le -f lavfi -i "aevalsrc=exprs='0.12*(sin(2*PI*261.6*t+3*sin(2*PI*5*t))+sin(2*PI*262.9*t+2*sin(2*PI*5.5*t))+sin(2*PI*329.6*t+2*sin(2*PI*4.7*t))+sin(2*PI*392*t+3*sin(2*PI*6*t)))+0.01*(random(0)-0.5)|0.12*(sin(2*PI*260.1*t+3*sin(2*PI*5.2*t))+sin(2*PI*330.7*t+2*sin(2*PI*4.9*t))+sin(2*PI*391*t+3*sin(2*PI*5.8*t))+sin(2*PI*523.3*t+sin(2*PI*6.1*t)))+0.01*(random(1)-0.5)':s=48000:c=stereo"
# Speech-like: a voiced buzz and bursts of noise under a syllable envelope: 16-bit mono, 44.1 kHz.
synthesize fresh-speech16 s16le -f lavfi -i "aevalsrc=exprs='(0.5+0.5*sin(2*PI*4*t))*(0.3*sin(2*PI*(120+20*sin(2*PI*0.5*t))*t)*(1+sin(2*PI*700*t))+0.15*(random(0)-0.5)*gt(sin(2*PI*1.3*t),0.6))':s=44100:c=mono"
# A loud band: noise, kick drums and a sawtooth bass: 24-bit stereo, 96 kHz.
synthesize fresh-band24-96k s24le -f lavfi -i "aevalsrc=exprs='0.3*(random(0)-0.5)+0.4*exp(-30*mod(t,0.5))*sin(2*PI*60*t)+0.2*(2*mod(55*t,1)-1)|0.3*(random(1)-0.5)+0.4*exp(-30*mod(t,0.5))*sin(2*PI*60*t)+0.2*(2*mod(55.3*t,1)-1)':s=96000:c=stereo"
# Ambient: brown noise under slow pads: 16-bit stereo, 48 kHz.
synthesize fresh-ambient16 s16le -f lavfi -i "anoisesrc=color=brown:amplitude=0.3:sample_rate=48000:seed=7" \
    -f lavfi -i "aevalsrc=exprs='0.2*sin(2*PI*110*t)*sin(2*PI*0.1*t)|0.2*sin(2*PI*165*t)*cos(2*PI*0.13*t)':s=48000:c=stereo" \
    -filter_complex "[0]pan=stereo|c0=c0|c1=0.7*c0[n];[n][1]amix=inputs=2:normalize=0"
echo "$out"
