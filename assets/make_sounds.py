#!/usr/bin/env python3
"""Make the built-in sound effects of 青禾主持人音效辅助工具.

Every effect is built from nothing: tones and noise shaped here, filtered, mixed
and reverberated by sox, words spoken by espeak-ng, encoded by lame. Python's
standard library only; the noise comes from seeded generators and sox runs in
repeatable mode, so every run writes the same files.

Usage:  python3 assets/make_sounds.py OUTPUT_DIR [NAME ...]
        (normally through assets/make_sounds.sh; NAMEs remake only those files)
"""

import array
import math
import os
import random
import subprocess
import sys
import tempfile
import zlib

RATE = 44100               # the board plays CD-rate files
SHORTEST = 1.0             # seconds; a shorter effect is padded with silence
LONGEST = 5.8              # seconds; stays under 6 s even with decoder padding
PEAK_DB = -1.0             # every effect peaks here, so buttons sound alike
LOUDEST_RMS_DB = -15.0     # steady noises (rain, sirens) are held down to this
QUIETEST_RMS_DB = -21.0    # clicks and single hits are lifted towards this ...
MOST_LIFT_DB = 9.0         # ... by at most this much, through a fast limiter
ONSET_DB = -50             # what counts as the start of the sound
BITRATE_KBPS = 64          # mono at 64 kbit/s keeps all 95 files near 3 MB

TMP = None                 # scratch folder, set by main()


# ---------------------------------------------------------------------------
# Sound: mono float samples at RATE.
# ---------------------------------------------------------------------------

class Sound:
    def __init__(self, samples=None):
        self.s = samples if isinstance(samples, array.array) else array.array('f', samples or [])

    @property
    def dur(self):
        return len(self.s) / RATE

    def fx(self, *effects):
        """Run the sound through a chain of sox effects."""
        args = [str(e) for e in effects]
        out = run(['sox', '-R', '-V1', '-t', 'f32', '-r', str(RATE), '-c', '1', '-',
                   '-t', 'f32', '-r', str(RATE), '-c', '1', '-'] + args, self.s.tobytes())
        return from_bytes(out)

    def gain(self, db):
        k = 10 ** (db / 20)
        return Sound(array.array('f', [x * k for x in self.s]))

    def times(self, fn):
        """Multiply by an envelope fn(t)."""
        s = self.s
        return Sound(array.array('f', [s[i] * fn(i / RATE) for i in range(len(s))]))

    def decay(self, tau, attack=0.002):
        a = max(1, int(attack * RATE))
        k = math.exp(-1.0 / (tau * RATE))
        out = array.array('f', self.s)
        g = 1.0
        for i in range(len(out)):
            out[i] *= g * (i / a if i < a else 1.0)
            g *= k
        return Sound(out)

    def fade(self, fin=0.005, fout=0.02):
        n = len(self.s)
        a, b = max(1, int(fin * RATE)), max(1, int(fout * RATE))
        out = array.array('f', self.s)
        for i in range(min(a, n)):
            out[i] *= i / a
        for i in range(min(b, n)):
            out[n - 1 - i] *= i / b
        return Sound(out)

    def cut(self, start, end=None):
        a = int(start * RATE)
        b = len(self.s) if end is None else int(end * RATE)
        return Sound(self.s[a:b])

    def pad(self, after):
        return Sound(self.s + array.array('f', bytes(4 * int(after * RATE))))

    def peak(self):
        return max((abs(x) for x in self.s), default=0.0)

    def norm(self, level=1.0):
        p = self.peak()
        return self.gain(20 * math.log10(level / p)) if p > 0 else self


def from_bytes(data):
    a = array.array('f')
    a.frombytes(data[:len(data) // 4 * 4])
    return Sound(a)


def run(cmd, data=None):
    r = subprocess.run(cmd, input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if r.returncode != 0:
        sys.exit('failed: %s\n%s' % (' '.join(cmd), r.stderr.decode(errors='replace')))
    return r.stdout


def mix(*parts, length=None):
    """Mix parts given as Sound or (start seconds, Sound[, gain dB])."""
    items = []
    for p in parts:
        if isinstance(p, Sound):
            items.append((0.0, p, 0.0))
        else:
            items.append((p[0], p[1], p[2] if len(p) > 2 else 0.0))
    end = max((int(t * RATE) + len(s.s) for t, s, _ in items), default=0)
    if length is not None:
        end = int(length * RATE)
    out = array.array('f', bytes(4 * end))
    for t, snd, db in items:
        k = 10 ** (db / 20)
        o = int(t * RATE)
        src = snd.s
        for i in range(min(len(src), end - o)):
            out[o + i] += src[i] * k
    return Sound(out)


def seeded(name):
    return random.Random(zlib.crc32(name.encode('utf-8')))


# ---------------------------------------------------------------------------
# Sources.
# ---------------------------------------------------------------------------

def _blep(t, dt):
    if t < dt:
        t /= dt
        return t + t - t * t - 1.0
    if t > 1.0 - dt:
        t = (t - 1.0) / dt
        return t * t + t + t + 1.0
    return 0.0


def osc(dur, freq, wave='sine', amp=None, phase=0.0):
    """Oscillator; freq and amp may be numbers or functions of time."""
    n = int(dur * RATE)
    out = array.array('f', bytes(4 * n))
    ph = phase
    ffn = freq if callable(freq) else None
    afn = amp if callable(amp) else None
    a = 1.0 if amp is None or afn else amp
    twopi = 2 * math.pi
    sin = math.sin
    for i in range(n):
        t = i / RATE
        f = ffn(t) if ffn else freq
        dt = f / RATE
        if wave == 'sine':
            v = sin(twopi * ph)
        elif wave == 'saw':
            v = 2.0 * ph - 1.0 - _blep(ph, dt)
        elif wave == 'square':
            v = (1.0 if ph < 0.5 else -1.0) + _blep(ph, dt) - _blep((ph + 0.5) % 1.0, dt)
        else:  # triangle
            v = 4.0 * abs(ph - 0.5) - 1.0
        out[i] = v * (afn(t) if afn else a)
        ph += dt
        ph -= math.floor(ph)
    return Sound(out)


def noise(dur, rng, color='white'):
    n = int(dur * RATE)
    r = rng.random
    if color == 'white':
        return Sound(array.array('f', [r() * 2 - 1 for _ in range(n)]))
    out = array.array('f', bytes(4 * n))
    if color == 'brown':
        y = 0.0
        for i in range(n):
            y = 0.995 * y + (r() * 2 - 1) * 0.1
            out[i] = y
        return Sound(out)
    # pink, Paul Kellet's economy filter
    b0 = b1 = b2 = 0.0
    for i in range(n):
        w = r() * 2 - 1
        b0 = 0.99765 * b0 + w * 0.0990460
        b1 = 0.96300 * b1 + w * 0.2965164
        b2 = 0.57000 * b2 + w * 1.0526913
        out[i] = (b0 + b1 + b2 + w * 0.1848) * 0.25
    return Sound(out)


def sweep_filter(snd, centre, q=2.0, mode='band'):
    """State-variable filter whose centre (Hz) may follow a function of time."""
    cfn = centre if callable(centre) else (lambda t: centre)
    damp = 1.0 / q
    low = band = 0.0
    s = snd.s
    out = array.array('f', bytes(4 * len(s)))
    sin = math.sin
    for i in range(len(s)):
        fc = min(cfn(i / RATE), RATE / 6.5)
        f = 2 * sin(math.pi * fc / RATE)
        low += f * band
        high = s[i] - low - damp * band
        band += f * high
        out[i] = band if mode == 'band' else (low if mode == 'low' else high)
    return Sound(out)


def synth(dur, *voice):
    """sox synth, e.g. synth(1, 'pluck', 220)."""
    return from_bytes(run(['sox', '-R', '-V1', '-r', str(RATE), '-n', '-t', 'f32', '-r', str(RATE),
                           '-c', '1', '-', 'synth', str(dur)] + [str(v) for v in voice]))


def say(text, voice='cmn', pitch=50, speed=175, *effects):
    """Speak text with espeak-ng; leading and trailing quiet is trimmed."""
    wav = os.path.join(TMP, 'speech.wav')
    run(['espeak-ng', '-b', '1', '-v', voice, '-p', str(pitch), '-s', str(speed),
         '-w', wav, text])
    raw = run(['sox', '-R', '-V1', wav, '-t', 'f32', '-r', str(RATE), '-c', '1', '-',
               'silence', '1', '0.002', '-45d', 'reverse', 'silence', '1', '0.002', '-45d',
               'reverse'] + [str(e) for e in effects])
    return from_bytes(raw).norm(0.9)


def env_points(points):
    """Piecewise-linear envelope from (time, level) points."""
    def fn(t):
        if t <= points[0][0]:
            return points[0][1]
        for (t0, a0), (t1, a1) in zip(points, points[1:]):
            if t <= t1:
                return a0 + (a1 - a0) * (t - t0) / (t1 - t0) if t1 > t0 else a1
        return points[-1][1]
    return fn


def contour(points):
    return env_points(points)


def vibrato(fn, rate, depth, delay=0.0):
    return lambda t: fn(t) * (1 + depth * math.sin(2 * math.pi * rate * t) * (1 if t >= delay else t / delay if delay else 1))


def jitter(fn, rng, amount, step=0.01, dur=6.0):
    """Random slow wobble of a frequency contour."""
    pts = [rng.uniform(-1, 1) for _ in range(int(dur / step) + 2)]

    def out(t):
        i = int(t / step)
        u = t / step - i
        return fn(t) * (1 + amount * (pts[i] * (1 - u) + pts[i + 1] * u))
    return out


# ---------------------------------------------------------------------------
# Instruments and drums.
# ---------------------------------------------------------------------------

NOTE_INDEX = {'C': -9, 'D': -7, 'E': -5, 'F': -4, 'G': -2, 'A': 0, 'B': 2}


def hz(note):
    if not isinstance(note, str):
        return float(note)
    n = NOTE_INDEX[note[0]]
    rest = note[1:]
    while rest and rest[0] in '#b':
        n += 1 if rest[0] == '#' else -1
        rest = rest[1:]
    return 440.0 * 2 ** ((n + 12 * (int(rest) - 4)) / 12)


def brass(f, d):
    f = hz(f)
    s = osc(d + 0.12, vibrato(lambda t: f, 5.5, 0.004, 0.2), 'saw')
    s = s.times(env_points([(0, 0), (0.04, 1), (0.12, 0.8), (d, 0.75), (d + 0.12, 0)]))
    return s.fx('lowpass', 1800, 'lowpass', 3500)


def square(f, d, duty_env=0.04):
    s = osc(d, hz(f), 'square')
    return s.times(env_points([(0, 0), (0.004, 0.5), (max(0.005, d - duty_env), 0.4), (d, 0)]))


def bell(f, d=1.2):
    f = hz(f)
    s = mix(osc(d, f).decay(d * 0.45), (0, osc(d, f * 2.0).decay(d * 0.25), -6),
            (0, osc(d, f * 3.01).decay(d * 0.12), -10), (0, osc(d, f * 4.2).decay(d * 0.08), -14),
            (0, osc(d, f * 5.43).decay(d * 0.05), -16))
    return s.fade(0.001, 0.02)


def marimba(f, d=0.5):
    f = hz(f)
    return mix(osc(d, f).decay(0.18), (0, osc(d, f * 4).decay(0.03), -8)).fade(0.002, 0.02)


def pluck(f, d=0.6):
    return synth(d, 'pluck', '%.2f' % hz(f)).decay(d * 0.5).fade(0.001, 0.02)


def organ(f, d):
    f = hz(f)
    s = mix(osc(d, f), (0, osc(d, f * 2), -4), (0, osc(d, f * 3), -9), (0, osc(d, f * 4), -12))
    return s.fade(0.03, 0.08)


def strings(f, d):
    f = hz(f)
    s = mix(osc(d, f * 0.997, 'saw'), osc(d, f * 1.003, 'saw', phase=0.3),
            osc(d, vibrato(lambda t: f, 5, 0.003), 'saw', phase=0.6))
    return s.times(env_points([(0, 0), (0.12, 1), (d - 0.15, 0.9), (d, 0)])).fx('lowpass', 2500)


def bass(f, d):
    s = osc(d, hz(f), 'saw').fx('lowpass', 700)
    return s.times(env_points([(0, 0), (0.01, 1), (d * 0.7, 0.7), (d, 0)]))


def kazoo(f, d):
    f = hz(f)
    s = osc(d, vibrato(lambda t: f, 6.5, 0.012), 'saw')
    s = mix(s.fx('bandpass', 900, '1.2q'), (0, s.fx('bandpass', 2400, '2q'), -4))
    return s.times(env_points([(0, 0), (0.03, 1), (d - 0.05, 0.9), (d, 0)]))


def reed(f, d):
    s = osc(d, hz(f), 'square').fx('lowpass', 1000)
    return s.times(env_points([(0, 0), (0.015, 1), (d * 0.6, 0.6), (d, 0)]))


def chord(inst, notes, d):
    return mix(*[inst(n, d) for n in notes.split()])


def kick(rng=None, d=0.45):
    body = osc(d, lambda t: 45 + 115 * math.exp(-t / 0.035)).decay(0.13)
    click = noise(0.01, rng or random.Random(1)).fx('lowpass', 4000).decay(0.003)
    return mix(body, (0, click, -10))


def snare(rng, d=0.25):
    n = noise(d, rng).fx('bandpass', 2500, '0.7q').decay(0.06)
    t = osc(d, 185).decay(0.05)
    return mix(n, (0, t, -4))


def hat(rng, open_=False):
    d = 0.25 if open_ else 0.06
    return noise(d, rng).fx('highpass', 7000).decay(0.08 if open_ else 0.015)


def clap(rng):
    n = noise(0.2, rng).fx('bandpass', 1200, '1q')
    env = lambda t: (math.exp(-(t % 0.011) / 0.003) if t < 0.033 else math.exp(-(t - 0.033) / 0.05))
    return n.times(env)


def crash(rng, d=2.0):
    return noise(d, rng).fx('highpass', 3500, 'lowpass', 12000).decay(0.55)


def tom(f, rng, d=0.5):
    body = osc(d, lambda t: f * (1 + 0.5 * math.exp(-t / 0.03))).decay(0.15)
    return mix(body, (0, noise(0.03, rng).fx('lowpass', 2000).decay(0.01), -12))


def timpani(f, rng, d=1.2):
    f = hz(f)
    s = mix(osc(d, f).decay(0.5), (0, osc(d, f * 1.5).decay(0.3), -8),
            (0, osc(d, f * 2.0).decay(0.2), -12),
            (0, noise(0.06, rng).fx('lowpass', 1200).decay(0.02), -6))
    return s.fade(0.002, 0.05)


def roll(inst_fn, dur, rate, rng, crescendo=True):
    parts = []
    n = int(dur * rate)
    for i in range(n):
        g = -18 + 18 * i / max(1, n - 1) if crescendo else 0
        parts.append((i / rate + rng.uniform(0, 0.01), inst_fn(), g))
    return mix(*parts)


def sequence(bpm, events, inst):
    """events: (beat, beats, notes) played on inst(note, seconds)."""
    beat = 60.0 / bpm
    parts = []
    for b, length, notes in events:
        for n in notes.split():
            parts.append((b * beat, inst(n, length * beat)))
    return mix(*parts)


# ---------------------------------------------------------------------------
# Building blocks shared by several effects.
# ---------------------------------------------------------------------------

def clap_bank(rng, n=12):
    bank = []
    for _ in range(n):
        c = noise(0.08, rng).fx('bandpass', rng.randint(800, 2600), '%.1fq' % rng.uniform(0.6, 1.6))
        bank.append(c.decay(rng.uniform(0.010, 0.022)))
    return bank


def applause(rng, dur, people, rate=(4.0, 6.5)):
    bank = clap_bank(rng)
    parts = []
    for _ in range(people):
        r = rng.uniform(*rate)
        t = rng.uniform(0, 0.12)
        g = rng.uniform(-12, 0)
        while t < dur:
            parts.append((t, rng.choice(bank), g + rng.uniform(-3, 0)))
            t += (1 / r) * rng.uniform(0.85, 1.15)
    bed = noise(dur, rng, 'pink').fx('highpass', 500, 'lowpass', 6000).gain(-6)
    return mix(bed, *parts, length=dur)


def laugh_voice(text, voice, pitch, speed, cents=0, tempo=1.0):
    eff = []
    if cents:
        eff += ['pitch', cents]
    if tempo != 1.0:
        eff += ['tempo', tempo]
    return say(text, voice, pitch, speed, *eff)


def crowd_laugh(rng, voices, dur):
    texts = ['哈哈哈哈哈哈', '哈哈哈哈', 'ha ha ha ha ha', 'ho ho ho ha ha', 'hahaha hahaha',
             '嘿嘿嘿哈哈哈', 'he he he he', '哈哈哈哈哈哈哈哈']
    parts = []
    for i in range(voices):
        v = rng.choice(['cmn', 'en', 'cmn+f2', 'en+f3', 'cmn+m3', 'en+m2', 'cmn+f4', 'en+f1'])
        lang = 'cmn' if v.startswith('cmn') else 'en'
        pool = [t for t in texts if (lang == 'cmn') == (not t.isascii())] or texts
        s = laugh_voice(rng.choice(pool), v, rng.randint(30, 95), rng.randint(220, 300),
                        rng.randint(-300, 500), rng.uniform(0.9, 1.2))
        s = s.fx('tremolo', '%.1f' % rng.uniform(5, 8), 40)
        parts.append((rng.uniform(0, 0.5) if i else 0.0, s, rng.uniform(-8, 0)))
        if s.dur < dur * 0.6:
            parts.append((rng.uniform(dur * 0.4, dur * 0.55), s, rng.uniform(-10, -3)))
    murmur = noise(dur, rng, 'pink').fx('bandpass', 700, '0.8q', 'tremolo', 6, 60).gain(-12)
    return mix(murmur, *parts).cut(0, dur).fade(0.001, 0.6)


def shot(rng, boom=80, crack_tau=0.04, body_tau=0.09, d=0.6):
    crack = noise(d, rng).fx('lowpass', 6000).decay(crack_tau, 0.0005)
    body = osc(d, lambda t: boom * (1 + 1.5 * math.exp(-t / 0.02))).decay(body_tau, 0.0005)
    thump = noise(d, rng, 'brown').fx('lowpass', 400).decay(body_tau * 1.5, 0.0005)
    return mix(crack, (0, body, -3), (0, thump, -2))


def metal_click(rng, f=2600):
    ring = mix(osc(0.12, f).decay(0.02), (0, osc(0.12, f * 1.58).decay(0.015), -4),
               (0, osc(0.12, f * 2.41).decay(0.01), -8))
    tick = noise(0.05, rng).fx('highpass', 2000).decay(0.004, 0.0003)
    body = osc(0.1, 160).decay(0.02)
    return mix(tick, (0, ring, -6), (0, body, -10))


def dual_tone(f1, f2, d):
    return mix(osc(d, f1), osc(d, f2)).fade(0.002, 0.004)


def siren(dur, fn, wave='saw', cutoff=2500):
    s = osc(dur, fn, wave).fx('lowpass', cutoff)
    return s


def glide_cycle(lo, hi, up, down, hold_hi=0.0, hold_lo=0.0):
    period = up + hold_hi + down + hold_lo

    def fn(t):
        x = t % period
        if x < up:
            return lo + (hi - lo) * (x / up)
        x -= up
        if x < hold_hi:
            return hi
        x -= hold_hi
        if x < down:
            return hi - (hi - lo) * (x / down)
        return lo
    return fn


def whoosh(rng, d, lo, hi):
    n = noise(d, rng)
    s = sweep_filter(n, lambda t: lo + (hi - lo) * math.sin(math.pi * min(t / d, 1.0)), 2.5)
    # starts at a quarter of full level so that the effect sounds at once
    return s.times(lambda t: 0.25 + 0.75 * math.sin(math.pi * min(t / d, 1.0)) ** 2).fade(0.0005, 0.01)


def voiced(dur, fn, formants, rng=None, breath=0.0, wave='saw'):
    """A buzzing source through vowel formants (centre Hz, gain dB)."""
    src = osc(dur, fn, wave)
    layers = [(0, sweep_filter(src, f, 6.0), g) for f, g in formants]
    if breath and rng:
        layers.append((0, noise(dur, rng).fx('bandpass', 1500, '0.7q'), 20 * math.log10(breath)))
    return mix(*layers)


# ---------------------------------------------------------------------------
# The effects, one recipe per file of the data folder.
# Every melody, chord run and chime here is written for this board; none copies a
# known tune, so the files can be shipped with the program.
# ---------------------------------------------------------------------------

RECIPES = {}


def recipe(name):
    def deco(fn):
        RECIPES[name] = fn
        return fn
    return deco


# Page "主持人专用" ---------------------------------------------------------

@recipe('xwpt')  # 开场音乐 / 新闻片头: bright brass fanfare over timpani
def _xwpt(rng):
    bpm = 120
    mel = [(0, 0.75, 'A4'), (0.75, 0.25, 'B4'), (1, 1, 'E5'), (2, 0.5, 'D5'), (2.5, 0.5, 'F#5'),
           (3, 0.5, 'B5'), (3.5, 0.5, 'G5'), (4, 3, 'A5 D5 F#5')]
    lead = sequence(bpm, mel, brass)
    pad = sequence(bpm, [(1, 1, 'E4 G4 B4'), (2, 2, 'G3 B3 D4'), (4, 3, 'D3 A3 D4 F#4')], strings)
    low = sequence(bpm, [(0, 1, 'D2'), (1, 1, 'E2'), (2, 2, 'G2'), (4, 3, 'D2')], bass)
    drums = mix((0, timpani('D2', rng)), (1.0, timpani('A2', rng), -3), (2.0, timpani('D2', rng)),
                (2.0, crash(rng, 2.5), -8))
    return mix(lead, (0, pad, -6), (0, low, -4), (0, drums, -2))


@recipe('qzxs')  # 哄堂大笑 / 群众笑声: a roomful of laughter
def _qzxs(rng):
    return crowd_laugh(rng, 11, 4.2).fx('reverb', 30, 50, 60)


@recipe('drxs')  # 多人笑声: a few people laughing together
def _drxs(rng):
    return crowd_laugh(rng, 4, 3.2)


def cheer(rng, dur):
    parts = []
    for i in range(6):
        v = rng.choice(['en', 'en+f2', 'en+m3', 'en+f4'])
        w = say(rng.choice(['woooo', 'yeah', 'wooo hoo', 'yay']), v, rng.randint(40, 90), 130,
                'pitch', rng.randint(-200, 400))
        parts.append((rng.uniform(0, dur * 0.5), w, rng.uniform(-10, -4)))
    for _ in range(3):  # whistles
        f0 = rng.uniform(1800, 2600)
        w = osc(0.6, lambda t, f0=f0: f0 * (1 + 0.25 * min(t / 0.15, 1) - 0.1 * max(0, t - 0.4)))
        parts.append((rng.uniform(0.2, dur * 0.7), w.fade(0.03, 0.1), -14))
    return mix(*parts)


@recipe('hhzs')  # 欢呼掌声: applause with cheering and whistles
def _hhzs(rng):
    d = 4.5
    return mix(applause(rng, d, 30), (0, cheer(rng, d), 0), length=d).fade(0.001, 0.8)


@recipe('jjzs')  # 激烈掌声: dense, fast applause
def _jjzs(rng):
    d = 4.5
    return applause(rng, d, 55, rate=(6.0, 8.5)).fade(0.001, 0.7)


@recipe('fps')  # 放屁声音: a low flapping buzz
def _fps(rng):
    d = 0.9
    f = jitter(contour([(0, 110), (0.15, 95), (0.7, 80), (0.9, 60)]), rng, 0.08, 0.008)
    buzz = osc(d, f, 'square').times(lambda t: 0.6 + 0.4 * math.sin(2 * math.pi * 23 * t))
    buzz = buzz.fx('lowpass', 500, 'lowpass', 900).times(env_points([(0, 1), (0.7, 0.8), (0.9, 0)]))
    pft = osc(0.18, jitter(lambda t: 140, rng, 0.1, 0.005), 'square').fx('lowpass', 600).decay(0.06)
    return mix(buzz, (1.0, pft, -4)).fade(0.002, 0.02)


def laugh_layers(rng, specs):
    parts = []
    for t, text, voice, pitch, speed, cents, g in specs:
        parts.append((t, laugh_voice(text, voice, pitch, speed, cents).fx('tremolo', 7, 30), g))
    return mix(*parts)


@recipe('xhxs')  # 小孩笑声: a child's giggle
def _xhxs(rng):
    return laugh_layers(rng, [(0, '嘻嘻嘻嘻，哈哈哈哈哈', 'cmn+f4', 95, 250, 500, 0),
                              (0.35, 'hee hee hee hee', 'en+f2', 90, 260, 700, -6)])


@recipe('yexs')  # 婴儿笑声: a baby's bubbly laugh
def _yexs(rng):
    s = laugh_layers(rng, [(0, 'a ha ha, ha ha ha', 'en+f5', 99, 200, 900, 0),
                           (1.2, 'aa hee hee hee', 'en+f2', 99, 220, 1000, -2)])
    return s.fx('tremolo', 11, 40)


@recipe('yeks')  # 婴儿哭声: wavering high "wah" cries
def _yeks(rng):
    cries = []
    t = 0.0
    for length in (1.1, 0.7, 1.4):
        f = jitter(vibrato(contour([(0, 430), (0.2, 500), (length, 380)]), 7, 0.03), rng, 0.02)
        opening = lambda x, L=length: 700 + 700 * min(x / 0.15, 1.0) - 300 * max(0, x - L + 0.2)
        src = osc(length, f, 'saw')
        v = mix(sweep_filter(src, opening, 5), (0, sweep_filter(src, 2600, 8), -6))
        v = v.times(env_points([(0, 0.2), (0.06, 1), (length - 0.15, 0.9), (length, 0)]))
        cries.append((t, v))
        gasp = noise(0.25, rng).fx('bandpass', 2000, '1q').fade(0.05, 0.1)
        cries.append((t + length + 0.05, gasp, -18))
        t += length + 0.35
    return mix(*cries)


@recipe('xexs')  # 邪恶笑声: a deep villain's laugh in a hall
def _xexs(rng):
    s = say('mwa ha ha ha ha ha, ha ha ha', 'en+m3', 5, 120, 'pitch', -500)
    return s.fx('pad', 0, 1.5, 'reverb', 60, 50, 90, 'echo', 0.8, 0.6, 180, 0.3)


@recipe('jxxr')  # 吓人贱笑: a creepy sniggering laugh
def _jxxr(rng):
    s = say('嘿嘿嘿嘿嘿，嘿嘿嘿嘿', 'cmn+croak', 70, 240, 'pitch', 300)
    s = s.fx('tremolo', 9, 60, 'pad', 0, 1.2, 'reverb', 40, 50, 80, 'echo', 0.8, 0.7, 250, 0.35)
    return s


@recipe('wyfg')  # 乌鸦飞过: three crow caws and flapping wings
def _wyfg(rng):
    parts = []
    for i, t in enumerate((0.0, 0.55, 1.1)):
        d = 0.32
        f = jitter(contour([(0, 620), (0.08, 700), (d, 520)]), rng, 0.05, 0.004)
        src = osc(d, f, 'saw').times(lambda x: 0.6 + 0.4 * math.sin(2 * math.pi * 48 * x))
        caw = mix(sweep_filter(src, 1300, 4), (0, sweep_filter(src, 2400, 6), -3),
                  (0, noise(d, rng).fx('bandpass', 1800, '1q'), -16))
        caw = caw.times(env_points([(0, 0.3), (0.02, 1), (d - 0.08, 0.8), (d, 0)]))
        parts.append((t, caw, -2 * i))
    for k in range(6):  # wing beats drifting away
        w = noise(0.12, rng).fx('lowpass', 900).fade(0.03, 0.08)
        parts.append((1.6 + k * 0.22, w, -8 - 2 * k))
    return mix(*parts)


@recipe('fcwrn')  # 非诚勿扰男: confident brass entrance with a driving beat
def _fcwrn(rng):
    bpm = 132
    beat = 60 / bpm
    mel = [(0, 0.5, 'E5'), (0.5, 0.25, 'G5'), (0.75, 0.75, 'A5'), (1.5, 0.5, 'E5'), (2, 0.5, 'B5'),
           (2.5, 1, 'A5'), (3.5, 0.5, 'G5'), (4, 0.5, 'D5'), (4.5, 0.5, 'E5'), (5, 3, 'B5')]
    lead = sequence(bpm, mel, brass)
    hits = sequence(bpm, [(0, 1, 'E3 B3'), (1.5, 1, 'C3 G3'), (3.5, 1, 'D3 A3'), (5, 3, 'E3 B3 E4')], brass)
    drums = []
    for b in range(8):
        drums.append((b * beat, kick(rng), -2))
        if b % 2:
            drums.append((b * beat, snare(rng), -4))
        drums.append(((b + 0.5) * beat, hat(rng), -10))
    return mix(lead, (0, hits, -5), (0, mix(*drums), -3), (5 * beat, crash(rng), -10))


@recipe('fcwrld')  # 非诚勿扰灯: a switch clack and a light going down
def _fcwrld(rng):
    click = metal_click(rng, 1800)
    dew = osc(0.9, lambda t: 300 + 1100 * math.exp(-t / 0.25), 'triangle').decay(0.45)
    thud = osc(0.4, lambda t: 70 + 60 * math.exp(-t / 0.05)).decay(0.1)
    return mix(click, (0.02, dew, -2), (0.6, thud, -4)).pad(0.2)


@recipe('fcwrnv')  # 非诚勿扰女: light romantic bells over strings
def _fcwrnv(rng):
    bpm = 96
    mel = [(0, 0.5, 'A5'), (0.5, 0.5, 'F5'), (1, 1, 'C6'), (2, 0.5, 'Bb5'), (2.5, 0.5, 'D6'),
           (3, 0.5, 'C6'), (3.5, 0.5, 'A5'), (4, 2, 'G5')]
    lead = sequence(bpm, mel, lambda n, d: bell(n, 1.4))
    pad = sequence(bpm, [(0, 2, 'F3 A3 C4'), (2, 2, 'Bb3 D4 F4'), (4, 2.5, 'C4 E4 G4')], strings)
    harp = sequence(bpm, [(i * 0.25, 0.5, n) for i, n in
                          enumerate('F3 C4 F4 A4 F3 C4 F4 A4 Bb2 F3 Bb3 D4 Bb2 F3 Bb3 D4'.split())], pluck)
    return mix(lead, (0, pad, -9), (0, harp, -8))


@recipe('pdcg')  # 配对成功: rising chime and a happy chord
def _pdcg(rng):
    arp = mix(*[(i * 0.09, bell(n, 1.0)) for i, n in enumerate('D5 A5 F#5 B5 E6 A6'.split())])
    sparkle = mix(*[(0.5 + i * 0.03, osc(0.3, 2000 + 150 * i).decay(0.08), -14) for i in range(16)])
    fan = mix((0.6, chord(brass, 'D4 F#4 A4 E5', 1.4)), (0.6, chord(strings, 'D3 A3 F#4', 1.6), -6))
    return mix(arp, (0, sparkle), (0, fan, -3), (0.6, crash(rng, 2.0), -14))


@recipe('pdsb')  # 配对失败: a deflated trombone that droops and wobbles
def _pdsb(rng):
    notes = [('E4', 0.5), ('C4', 0.3), ('D4', 0.3), ('A3', 1.5)]
    parts = []
    t = 0.0
    for i, (n, d) in enumerate(notes):
        f = hz(n)
        last = i == len(notes) - 1
        # the last note sags a little as it wobbles, like a player running out of breath
        sag = (lambda x, f=f: f * (1 - 0.05 * max(0.0, x - 0.5))) if last else (lambda x, f=f: f)
        fn = vibrato(sag, 6, 0.025 if last else 0.0, 0.3)
        src = osc(d, fn, 'saw')
        wah = sweep_filter(src, lambda x, d=d: 400 + 900 * min(x / 0.12, 1) * (1 - 0.5 * x / d), 3)
        parts.append((t, wah.times(env_points([(0, 0), (0.05, 1), (d - 0.1, 0.8), (d, 0)]))))
        t += d + 0.05
    return mix(*parts)


# Page "Mc喊麦专用" ----------------------------------------------------------

@recipe('jjs')  # 尖叫声: a high scream
def _jjs(rng):
    d = 1.8
    f = jitter(vibrato(contour([(0, 850), (0.25, 1250), (1.2, 1150), (d, 900)]), 7, 0.02), rng, 0.03, 0.02)
    scream = voiced(d, f, [(1100, 0), (2800, -4), (3600, -8)], rng, 0.15)
    scream = scream.fx('overdrive', 8)
    return scream.times(env_points([(0, 0.3), (0.05, 1), (1.4, 0.9), (d, 0)]))


@recipe('jxg')  # Mc教学鼓: a steady hip-hop drum loop
def _jxg(rng):
    bpm = 92
    beat = 60 / bpm
    parts = []
    pattern_k = [0, 0.75, 2.5, 4, 4.75, 6.5, 7.0]
    for b in pattern_k:
        parts.append((b * beat, kick(rng), 0))
    for b in (1, 3, 5, 7):
        parts.append((b * beat, snare(rng), -2))
        parts.append((b * beat, clap(rng), -8))
    for i in range(16):
        parts.append((i * 0.5 * beat, hat(rng, i % 4 == 3), -10 if i % 2 else -7))
    return mix(*parts).fx('pad', 0, 0.5, 'reverb', 15).cut(0, 8 * beat + 0.4)


@recipe('st')  # 给枪上膛: click of the slide back, clack forward
def _st(rng):
    return mix(metal_click(rng, 2300), (0.22, metal_click(rng, 3100)), (0.25, shot(rng, 120, 0.005, 0.02, 0.15), -14)).pad(0.6)


@recipe('jqss')  # 机枪扫射: a long burst of automatic fire
def _jqss(rng):
    parts = []
    t = 0.0
    for i in range(22):
        parts.append((t, shot(rng, rng.uniform(70, 95), 0.03, 0.06, 0.4), rng.uniform(-3, 0)))
        t += 1 / 12.5
    for k in range(6):  # falling cases
        parts.append((0.4 + k * 0.3 + rng.uniform(0, 0.1), metal_click(rng, rng.uniform(3500, 5000)), -20))
    return mix(*parts).fx('pad', 0, 1.0, 'reverb', 30, 50, 70)


@recipe('qms')  # 急速敲门: hurried knocking on a wooden door
def _qms(rng):
    def knock():
        body = mix(osc(0.12, 170).decay(0.03), (0, osc(0.12, 330).decay(0.02), -4))
        return mix(body, (0, noise(0.05, rng).fx('lowpass', 1800).decay(0.008), -4))
    parts = []
    t = 0.0
    for group in range(3):
        for i in range(5):
            parts.append((t, knock(), rng.uniform(-2, 0)))
            t += 0.11
        t += 0.35
    return mix(*parts).fx('pad', 0, 0.3, 'reverb', 20, 50, 40)


@recipe('jjqs')  # 阻击枪声: one heavy shot echoing, then the bolt worked
def _jjqs(rng):
    boom = shot(rng, 55, 0.06, 0.2, 1.2)
    echoed = boom.fx('pad', 0, 2.0, 'reverb', 80, 40, 100, 'echo', 0.8, 0.5, 400, 0.35, 900, 0.2)
    bolt = mix(metal_click(rng, 2000), (0.18, metal_click(rng, 2800)))
    return mix(echoed, (2.3, bolt, -10)).cut(0, 3.2)


@recipe('drqs')  # 打人拳声: two punches landing
def _drqs(rng):
    def punch():
        sw = whoosh(rng, 0.12, 400, 1500)
        hit = mix(osc(0.25, lambda t: 60 + 90 * math.exp(-t / 0.03)).decay(0.07),
                  (0, noise(0.1, rng).fx('bandpass', 1500, '0.8q').decay(0.02), -2))
        return mix((0, sw, -12), (0.1, hit))
    return mix(punch(), (0.55, punch(), -1)).pad(0.2)


@recipe('sqsy')  # 手枪声音: two pistol shots
def _sqsy(rng):
    s = mix(shot(rng, 110, 0.035, 0.07), (0.65, shot(rng, 105, 0.035, 0.07)))
    return s.fx('pad', 0, 0.8, 'reverb', 40, 50, 70)


@recipe('yyzs')  # 英文正数: counting one to five in English
def _yyzs(rng):
    parts = []
    for i, w in enumerate(['one', 'two', 'three', 'four', 'five']):
        parts.append((i * 0.7, say(w, 'en', 45, 160)))
    return mix(*parts)


@recipe('zbl')  # 砸玻璃声: a pane smashed, shards raining down
def _zbl(rng):
    impact = mix(osc(0.3, lambda t: 90 + 80 * math.exp(-t / 0.03)).decay(0.06),
                 (0, noise(0.8, rng).fx('highpass', 1500).decay(0.12), 0))
    parts = [(0, impact)]
    for _ in range(70):
        t = 0.02 + rng.expovariate(1 / 0.45)
        if t > 2.2:
            continue
        f = rng.uniform(2500, 9000)
        d = rng.uniform(0.05, 0.3)
        ping = mix(osc(d, f).decay(d / 3), (0, osc(d, f * 1.37).decay(d / 5), -6))
        parts.append((t, ping, rng.uniform(-18, -6)))
    return mix(*parts)


def kiss(rng):
    smack = noise(0.04, rng).fx('highpass', 1000).decay(0.006, 0.0005)
    pop = osc(0.05, lambda t: 600 * math.exp(-t / 0.02) + 200).decay(0.01)
    return mix(smack, (0, pop, -6))


@recipe('mwn')  # 麦吻(男): a smacking kiss and a deep "mua"
def _mwn(rng):
    return mix(kiss(rng), (0.1, say('mua', 'cmn', 15, 140, 'pitch', -300), -2), (0.8, kiss(rng), -3)).pad(0.2)


@recipe('mwns')  # 麦吻(女): a smacking kiss and a sweet "mua"
def _mwns(rng):
    return mix(kiss(rng), (0.1, say('mua, 么么哒', 'cmn+f4', 85, 170, 'pitch', 400), -2),
               (1.2, kiss(rng), -3)).pad(0.1)


# Page "搞笑类音效" ----------------------------------------------------------

@recipe('yyy')  # 搞笑娃娃音: a squeaky doll voice
def _yyy(rng):
    return say('人家不要嘛，讨厌啦！', 'cmn+f4', 99, 210, 'pitch', 600, 'tremolo', 8, 20)


@recipe('bj')  # 八戒背媳妇: a bouncy folk tune and the line
def _bj(rng):
    bpm = 150
    tune = [(0, 0.5, 'D5'), (0.5, 0.5, 'B4'), (1, 0.5, 'A4'), (1.5, 0.5, 'B4'), (2, 0.5, 'D5'),
            (2.5, 0.5, 'E5'), (3, 1, 'D5'), (4, 0.5, 'A4'), (4.5, 0.5, 'B4'), (5, 1, 'G4')]
    band = mix(sequence(bpm, tune, kazoo),
               (0, sequence(bpm, [(i, 0.4, 'G2' if i % 2 == 0 else 'D3') for i in range(6)], bass), -6))
    words = say('猪八戒，背媳妇喽！', 'cmn', 20, 210, 'pitch', -200)
    return mix(band, (6 * 60 / bpm - 0.1, words, 0))


@recipe('tgg')  # 挑优秀老公: the advice, spoken
def _tgg(rng):
    return say('挑老公，就要挑最优秀的！', 'cmn+f2', 70, 200)


def phone_line(s):
    return s.fx('highpass', 300, 'lowpass', 3400, 'overdrive', 3)


@recipe('jsb')  # 神经病热线: a mad hotline greeting
def _jsb(rng):
    w = say('您好，这里是神经病热线。发病请按一！', 'cmn+f2', 60, 240)
    cackle = laugh_voice('哈哈哈哈哈', 'cmn+f4', 90, 300, 400)
    return phone_line(mix(w, (w.dur + 0.1, cackle, -3)))


@recipe('rx')  # 110热线: the police hotline answering
def _rx(rng):
    return phone_line(say('您好，这里是幺幺零报警热线，请讲。', 'cmn+f2', 55, 230))


@recipe('hlly')  # 哈利路亚: a choir singing hallelujah over an organ
def _hlly(rng):
    word = say('hallelujah', 'en', 50, 90, 'pitch', -100)
    choir = mix(word, (0.02, word.fx('pitch', 400), -3), (0.04, word.fx('pitch', 700), -3),
                (0.01, word.fx('pitch', -1200), -6))
    organ_ = mix(chord(organ, 'C3 G3 C4 E4', 1.8), (1.8, chord(organ, 'F3 A3 C4 F4', 1.2)),
                 (3.0, chord(organ, 'C3 G3 C4 E4', 1.6)))
    return mix(organ_, (0, choir.fx('pad', 0, 0.5, 'reverb', 70), 0), (1.9, choir, -4)).fx('pad', 0, 0.3, 'reverb', 50)


@recipe('jm')  # 救命: a frightened voice crying for help
def _jm(rng):
    a = say('救命啊！', 'cmn+f2', 85, 200, 'pitch', 200, 'tremolo', 6, 40)
    b = say('救命！救命！', 'cmn+f2', 95, 220, 'pitch', 300, 'tremolo', 7, 40)
    return mix(a, (a.dur + 0.15, b))


@recipe('1')  # 搞笑Ⅰ: a cartoon spring boing
def _g1(rng):
    d = 1.3
    s = osc(d, lambda t: 180 * (1 + 0.35 * math.sin(2 * math.pi * 14 * t) * math.exp(-t / 0.5)) * (1 + 0.6 * t),
            'triangle')
    return s.decay(0.6).fx('lowpass', 3000)


@recipe('2')  # 搞笑Ⅱ: a slide whistle up and down
def _g2(rng):
    d = 1.8
    f = vibrato(contour([(0, 600), (0.8, 1900), (0.95, 1900), (d, 500)]), 6, 0.01)
    s = mix(osc(d, f), (0, noise(d, rng).fx('bandpass', 2000, '2q'), -26))
    return s.times(env_points([(0, 0.5), (0.05, 1), (d - 0.1, 0.9), (d, 0)]))


@recipe('3')  # 搞笑Ⅲ: a clown horn, honk honk
def _g3(rng):
    def honk(d):
        f = contour([(0, 300), (0.05, 340), (d - 0.05, 330), (d, 250)])
        src = osc(d, f, 'saw')
        h = mix(sweep_filter(src, 800, 3), (0, sweep_filter(src, 1900, 4), -2)).fx('overdrive', 10)
        return h.times(env_points([(0, 0), (0.02, 1), (d - 0.04, 1), (d, 0)]))
    return mix(honk(0.25), (0.35, honk(0.45))).pad(0.3)


@recipe('4')  # 搞笑Ⅳ: laser blaster, pew pew pew
def _g4(rng):
    def pew():
        return osc(0.18, lambda t: 300 + 2200 * math.exp(-t / 0.04), 'square').fx('lowpass', 5000).decay(0.08)
    s = mix(*[(i * 0.28, pew(), -i) for i in range(4)])
    return s.fx('pad', 0, 0.3, 'echo', 0.8, 0.6, 60, 0.3)


@recipe('5')  # 搞笑Ⅴ: tiptoeing xylophone up and down
def _g5(rng):
    notes = 'C5 D5 E5 F5 G5 A5 B5 C6 B5 A5 G5 F5 E5 D5 C5'.split()
    s = mix(*[(i * 0.11, marimba(n, 0.5)) for i, n in enumerate(notes)])
    return mix(s, (len(notes) * 0.11 + 0.05, marimba('C4', 0.8), 0))


@recipe('6')  # 搞笑Ⅵ: a twanging "duang"
def _g6(rng):
    d = 1.4
    src = osc(d, vibrato(lambda t: 98, 5, 0.01), 'saw')
    tw = sweep_filter(src, lambda t: 350 + 1800 * math.exp(-t / 0.15) + 250 * math.sin(2 * math.pi * 3 * t), 5)
    tw = tw.decay(0.5)
    word = say('duang', 'en', 40, 130)
    return mix(tw, (0.05, word, -4))


@recipe('7')  # 搞笑Ⅶ: "哎哟，不错哦" in a cheeky voice
def _g7(rng):
    return say('哎哟，不错哦！', 'cmn', 40, 170, 'pitch', 200)


@recipe('8')  # 搞笑Ⅷ: a rimshot, ba-dum-tss
def _g8(rng):
    return mix(snare(rng), (0, tom(190, rng), -2), (0.16, tom(120, rng)), (0.16, kick(rng), -4),
               (0.34, snare(rng), -4), (0.34, crash(rng, 1.5), -9))


@recipe('zxcxs')  # 周星驰笑声: a fast, high, rising cackle
def _zxcxs(rng):
    a = laugh_voice('哈哈哈哈哈哈哈哈', 'cmn', 75, 330, 400)
    b = laugh_voice('哈哈哈哈哈', 'cmn', 95, 360, 700)
    return mix(a, (a.dur - 0.1, b)).fx('tremolo', 9, 30)


@recipe('zryhd')  # 做人要厚道: the saying, spoken
def _zryhd(rng):
    return say('做人，要厚道。', 'cmn', 35, 150).fx('pad', 0, 0.3, 'reverb', 20)


# Page "交通类音效" ----------------------------------------------------------

@recipe('tljsy')  # 拖拉机声音: a chugging single-cylinder engine
def _tljsy(rng):
    d = 4.5
    parts = []
    t = 0.0
    while t < d:
        pop = mix(osc(0.1, 55).decay(0.04, 0.001), (0, noise(0.1, rng).fx('lowpass', 500).decay(0.03, 0.001), 0))
        parts.append((t, pop, rng.uniform(-3, 0)))
        t += 1 / 8.5 * rng.uniform(0.93, 1.07)
    rattle = noise(d, rng).fx('bandpass', 1800, '2q').times(lambda x: 0.5 + 0.5 * math.sin(2 * math.pi * 8.5 * x)).gain(-16)
    return mix(mix(*parts), (0, rattle), length=d).fx('overdrive', 6).fade(0.001, 0.4)


@recipe('jcsy')  # 警车声音: police wail then yelp
def _jcsy(rng):
    wail = glide_cycle(650, 1450, 1.0, 1.0)
    yelp = glide_cycle(650, 1450, 0.12, 0.12)
    f = lambda t: wail(t) if t < 2.0 else yelp(t - 2.0)
    return siren(4.5, f).fade(0.001, 0.2)


@recipe('jhcsy')  # 救护车声音: two-tone hi-lo
def _jhcsy(rng):
    f = lambda t: 960 if (t % 1.2) < 0.6 else 770
    return osc(4.8, f, 'square').fx('lowpass', 2200).fade(0.001, 0.1)


@recipe('mtcsy')  # 摩托车声音: a motorbike revving and pulling away
def _mtcsy(rng):
    d = 4.2
    f = jitter(contour([(0, 28), (0.5, 28), (1.0, 95), (1.4, 45), (1.8, 45), (2.6, 130), (3.2, 140), (d, 110)]),
               rng, 0.02)
    eng = osc(d, f, 'saw').fx('lowpass', 1200, 'overdrive', 12, 'lowpass', 2500)
    exhaust = noise(d, rng).fx('bandpass', 900, '1q').gain(-18)
    return mix(eng, (0, exhaust)).times(env_points([(0, 0.6), (2.6, 0.9), (3.4, 1.0), (d, 0)]))


@recipe('zsfj')  # 直升飞机: rotor chop with a turbine whine
def _zsfj(rng):
    d = 4.5
    chop = noise(d, rng, 'brown').fx('lowpass', 700).times(lambda t: math.exp(-((t * 12.5) % 1) / 0.18))
    thump = osc(d, 48).times(lambda t: math.exp(-((t * 12.5) % 1) / 0.12))
    whine = osc(d, lambda t: 1900 + 30 * math.sin(2 * math.pi * 0.5 * t)).gain(-30)
    return mix(chop, (0, thump, -6), (0, whine)).fade(0.001, 0.4)


def screech(rng, d, f0, f1):
    f = jitter(contour([(0, f0), (d, f1)]), rng, 0.025, 0.015)
    tone = mix(osc(d, f), (0, osc(d, lambda t: 2 * f(t)), -8), (0, osc(d, lambda t: 3.02 * f(t)), -14))
    hiss = noise(d, rng).fx('bandpass', 2500, '0.8q').gain(-10)
    return mix(tone, (0, hiss)).times(env_points([(0, 0.5), (0.08, 1), (d - 0.15, 0.9), (d, 0)]))


@recipe('scsy')  # 刹车声音: tyres screeching to a stop
def _scsy(rng):
    return mix(screech(rng, 1.9, 1650, 1350), (1.85, shot(rng, 60, 0.02, 0.1, 0.4), -14))


@recipe('fdqc')  # 发动汽车: starter cranking, then the engine catches
def _fdqc(rng):
    crank_d = 1.4
    crank = osc(crank_d, lambda t: 190 * (1 + 0.1 * math.sin(2 * math.pi * 5 * t)), 'saw').fx('lowpass', 1500)
    crank = crank.times(lambda t: 0.55 + 0.45 * math.sin(2 * math.pi * 5 * t))
    crank = mix(crank, (0, noise(crank_d, rng).fx('bandpass', 2000, '1q'), -16))
    d = 2.6
    f = jitter(contour([(0, 25), (0.2, 70), (0.6, 40), (d, 32)]), rng, 0.03)
    eng = osc(d, f, 'saw').fx('lowpass', 900, 'overdrive', 10, 'lowpass', 2000)
    eng = eng.times(env_points([(0, 0.6), (0.2, 1), (0.8, 0.7), (d - 0.3, 0.7), (d, 0)]))
    return mix(crank, (crank_d - 0.05, eng, 0))


@recipe('qcpy')  # 汽车漂移: engine roaring into a long skid
def _qcpy(rng):
    d = 4.2
    f = jitter(contour([(0, 90), (0.6, 150), (1.2, 135), (d, 120)]), rng, 0.02)
    eng = osc(d, f, 'saw').fx('lowpass', 1000, 'overdrive', 12, 'lowpass', 2200).gain(-3)
    sk = screech(rng, 3.2, 1400, 1200)
    return mix(eng, (0.7, sk, -2)).times(env_points([(0, 1), (d - 0.4, 0.9), (d, 0)]))


def horn(notes, d, wave='saw', cutoff=2000):
    s = mix(*[osc(d, hz(n), wave) for n in notes])
    return s.fx('lowpass', cutoff).times(env_points([(0, 0.5), (0.03, 1), (d - 0.05, 1), (d, 0)]))


@recipe('hcmd')  # 货车鸣笛: two blasts of a deep air horn
def _hcmd(rng):
    return mix(horn([155, 196, 233], 1.1, cutoff=1600), (1.4, horn([155, 196, 233], 1.8, cutoff=1600))).fx('overdrive', 4)


@recipe('qcmd')  # 汽车鸣笛: beep beep, beeeep
def _qcmd(rng):
    h = lambda d: horn([415, 523], d, 'square', 3000)
    return mix(h(0.18), (0.3, h(0.18)), (0.7, h(0.8)))


@recipe('huochemd')  # 火车鸣笛: a three-note train horn, long then short
def _huochemd(rng):
    notes = [277, 349, 415]
    s = mix(horn(notes, 2.2, cutoff=2500), (2.5, horn(notes, 0.8, cutoff=2500)))
    return s.fx('pad', 0, 1.0, 'reverb', 60, 50, 90)


def chime(notes, gap=0.45, length=1.4):
    return mix(*[(i * gap, bell(n, length), 0) for i, n in enumerate(notes)])


@recipe('dcbz')  # 电车报站: a falling three-note chime and the next stop announced
def _dcbz(rng):
    c = chime(['B5', 'E5', 'G5'], 0.3)
    v = say('前方到站，人民广场，请准备下车。', 'cmn+f2', 55, 250)
    return mix(c, (0.9, v, -1)).fx('highpass', 150)


@recipe('gjcbz')  # 公交车报站: a four-note chime and the bus announcement
def _gjcbz(rng):
    c = chime(['D5', 'A5', 'F#5', 'B5'], 0.22, 1.2)
    v = say('乘客您好，下一站，火车站。', 'cmn+f4', 60, 240)
    return mix(c, (1.0, v, -1)).fx('highpass', 150)


@recipe('hzbjing')  # 火灾报警: rising whoops of an evacuation alarm
def _hzbjing(rng):
    whoop = osc(0.75, lambda t: 500 + 700 * t / 0.75, 'square').fade(0.001, 0.01)
    return mix(*[(i * 0.95, whoop) for i in range(5)]).fx('lowpass', 3000)


@recipe('fkjb')  # 防空报警: the slow rise and fall of an air-raid siren
def _fkjb(rng):
    f = contour([(0, 280), (1.6, 560), (3.0, 560), (5.2, 260)])
    s = mix(osc(5.2, f, 'saw'), (0, osc(5.2, lambda t: f(t) * 1.19, 'saw'), -3))
    s = s.fx('lowpass', 1500)
    return s.times(env_points([(0, 0.5), (1.2, 1), (3.0, 1), (5.2, 0.2)])).fx('pad', 0, 0.5, 'reverb', 50).cut(0, 5.6).fade(0, 0.3)


@recipe('dbgs')  # 打饱嗝声: a big burp and a small one
def _dbgs(rng):
    def burp(d, f0):
        f = jitter(contour([(0, f0), (d, f0 * 0.8)]), rng, 0.12, 0.006)
        v = voiced(d, f, [(450, 0), (900, -4)], rng, 0.05)
        return v.times(env_points([(0, 0.2), (0.04, 1), (d * 0.6, 0.8), (d, 0)]))
    return mix(burp(0.55, 85), (0.8, burp(0.3, 95), -4)).pad(0.1)


@recipe('dhls')  # 打呼噜声: two rattling snores and a sigh out
def _dhls(rng):
    def inhale(d):
        rattle = noise(d, rng, 'brown').fx('lowpass', 900).times(lambda t: 0.4 + 0.6 * abs(math.sin(math.pi * 28 * t)))
        buzz = osc(d, jitter(lambda t: 28, rng, 0.1), 'saw').fx('lowpass', 400)
        return mix(rattle, (0, buzz, -6)).times(env_points([(0, 0.3), (d * 0.5, 1), (d, 0)]))

    def exhale(d):
        return noise(d, rng).fx('bandpass', 700, '0.8q').times(env_points([(0, 0.5), (d * 0.3, 0.6), (d, 0)])).gain(-8)
    return mix(inhale(1.5), (1.5, exhale(1.1)), (2.8, inhale(1.5)), (4.3, exhale(1.1)))


# Page "生活类音效" ----------------------------------------------------------

DTMF = {'1': (697, 1209), '2': (697, 1336), '3': (697, 1477), '4': (770, 1209), '5': (770, 1336),
        '6': (770, 1477), '7': (852, 1209), '8': (852, 1336), '9': (852, 1477), '0': (941, 1336)}


@recipe('bodh')  # 拨打电话: dialling a number, then the ringing tone
def _bodh(rng):
    parts = []
    t = 0.0
    for digit in '13800138000':
        f1, f2 = DTMF[digit]
        parts.append((t, dual_tone(f1, f2, 0.11)))
        t += 0.19
    parts.append((t + 0.4, osc(1.0, 450).fade(0.005, 0.01), -2))
    return mix(*parts)


@recipe('dalei')  # 打雷声音: a crack of lightning and rolling thunder
def _dalei(rng):
    d = 5.2
    crack = noise(0.5, rng).fx('highpass', 200).decay(0.07, 0.0005)
    crackle = mix(*[(rng.uniform(0, 0.45), noise(0.01, rng).decay(0.002, 0.0002), rng.uniform(-12, 0)) for _ in range(40)])
    rolls = jitter(lambda t: 1.0, rng, 0.6, 0.18)
    rumble = noise(d, rng, 'brown').fx('lowpass', 250, 'lowpass', 400)
    rumble = rumble.times(lambda t: rolls(t) * math.exp(-t / 2.0) * min(1, t / 0.15 + 0.3))
    return mix(crack, (0, crackle, -4), (0.05, rumble, 8)).fx('pad', 0, 0.5, 'reverb', 60).cut(0, d).fade(0, 0.5)


@recipe('dayu')  # 大雨漂泊: steady heavy rain
def _dayu(rng):
    d = 5.0
    bed = mix(noise(d, rng, 'pink').fx('highpass', 300, 'lowpass', 7000),
              (0, noise(d, rng).fx('highpass', 2000, 'lowpass', 9000), -10))
    drops = mix(*[(rng.uniform(0, d), noise(0.015, rng).fx('bandpass', rng.randint(1500, 5000), '2q').decay(0.004),
                   rng.uniform(-18, -6)) for _ in range(300)])
    return mix(bed, (0, drops), length=d).fade(0.001, 0.5)


@recipe('daoks')  # 倒开水声: water poured into a cup, rising as it fills
def _daoks(rng):
    d = 3.5
    stream = noise(d, rng).fx('bandpass', 1500, '0.7q').gain(-12)
    parts = [(0, stream)]
    t = 0.0
    while t < d - 0.1:
        base = 350 + 700 * t / d
        b = osc(0.06, lambda x, b=base: b * (1 + 3 * x)).decay(0.02, 0.002)
        parts.append((t, b, rng.uniform(-10, -2)))
        t += rng.uniform(0.015, 0.06)
    return mix(*parts).times(env_points([(0, 0.8), (0.1, 1), (d - 0.3, 1), (d, 0)]))


@recipe('jujue')  # 咀嚼东西: crunchy chewing
def _jujue(rng):
    parts = []
    t = 0.0
    while t < 3.4:
        crunch = mix(*[(rng.uniform(0, 0.12), noise(0.02, rng).fx('bandpass', rng.randint(1200, 4000), '1q').decay(0.004),
                        rng.uniform(-10, 0)) for _ in range(14)])
        thump = osc(0.12, 110).decay(0.03)
        parts.append((t, mix(crunch, (0, thump, -10))))
        t += 0.38 * rng.uniform(0.9, 1.1)
    return mix(*parts)


@recipe('dudu')  # 电话嘟嘟: long ringing tones on the line
def _dudu(rng):
    return mix(*[(i * 1.8, osc(1.0, 450).fade(0.002, 0.01)) for i in range(3)])


@recipe('zhanxian')  # 电话占线: the fast busy tone
def _zhanxian(rng):
    return mix(*[(i * 0.7, osc(0.35, 450).fade(0.002, 0.005)) for i in range(6)])


@recipe('jianpan')  # 敲键盘声: typing on a keyboard
def _jianpan(rng):
    parts = []
    t = 0.0
    while t < 3.4:
        if rng.random() < 0.1:
            key = mix(noise(0.05, rng).fx('bandpass', 900, '1q').decay(0.012, 0.0005),
                      (0, osc(0.05, 140).decay(0.015), -6))
        else:
            key = mix(noise(0.03, rng).fx('highpass', 2500).decay(0.004, 0.0003),
                      (0.006, noise(0.03, rng).fx('bandpass', 1800, '1.5q').decay(0.006, 0.0003), -6),
                      (0, osc(0.03, rng.uniform(280, 400)).decay(0.008), -10))
        parts.append((t, key, rng.uniform(-6, 0)))
        t += rng.uniform(0.07, 0.2) if rng.random() < 0.9 else rng.uniform(0.3, 0.5)
    return mix(*parts)


@recipe('matong')  # 马桶冲水: handle, rushing swirl, gurgle
def _matong(rng):
    d = 4.6
    handle = metal_click(rng, 1500)
    rush = noise(d, rng).fx('bandpass', 900, '0.5q')
    rush = rush.times(lambda t: env_points([(0, 0.2), (0.6, 1), (2.4, 0.9), (3.4, 0.3), (d, 0)])(t) *
                      (0.75 + 0.25 * math.sin(2 * math.pi * 3 * t)))
    gurgle = []
    for _ in range(30):
        t = rng.uniform(1.8, 3.6)
        b = rng.uniform(150, 400)
        gurgle.append((t, osc(0.08, lambda x, b=b: b * (1 + 2 * x)).decay(0.03), rng.uniform(-14, -4)))
    return mix(handle, (0.1, rush), *gurgle)


@recipe('kongbu')  # 恐怖鬼火: an eerie drone with a wandering whistle
def _kongbu(rng):
    d = 5.2
    drone = mix(osc(d, 55, 'saw'), osc(d, 58.3, 'saw'), (0, osc(d, 82.4, 'saw'), -3)).fx('lowpass', 400)
    cluster = chord(strings, 'E5 F5 Bb5', d).gain(-10)
    whistle = osc(d, jitter(contour([(0, 900), (1.5, 1400), (2.5, 1100), (3.8, 1600), (d, 1000)]), rng, 0.02, 0.2),
                  'sine').gain(-8)
    s = mix(drone, (0, cluster), (0, whistle)).times(env_points([(0, 0.5), (0.3, 1), (d - 0.5, 1), (d, 0)]))
    return s.fx('pad', 0, 0.8, 'reverb', 80, 50, 100).cut(0, 5.6).fade(0, 0.4)


@recipe('pijiu')  # 开啤酒盖: a cap popping off and the fizz
def _pijiu(rng):
    pop = mix(metal_click(rng, 3000), (0, osc(0.05, 250).decay(0.01), -4))
    hiss = noise(1.2, rng).fx('highpass', 2500).decay(0.3).fade(0, 0.3)
    fizz = mix(*[(rng.uniform(0.2, 1.9), noise(0.006, rng).fx('highpass', 4000).decay(0.001), rng.uniform(-24, -12))
                 for _ in range(120)])
    return mix(pop, (0.02, hiss, -2), (0, fizz))


@recipe('goujiao')  # 狗狗叫声: woof woof ... woof
def _goujiao(rng):
    def bark(f0):
        d = 0.2
        f = contour([(0, f0 * 0.8), (0.03, f0), (d, f0 * 0.65)])
        v = voiced(d, jitter(f, rng, 0.03, 0.004), [(700, 0), (1400, -3), (2600, -9)], rng, 0.25)
        return v.times(env_points([(0, 0), (0.01, 1), (0.08, 0.8), (d, 0)])).fx('overdrive', 6)
    return mix(bark(420), (0.3, bark(440)), (1.0, bark(410)), (1.28, bark(430), -1)).pad(0.2)


@recipe('yingbi')  # 倒硬币声: a pile of coins poured out
def _yingbi(rng):
    parts = []
    for _ in range(70):
        t = rng.uniform(0, 1.6) ** 1.2
        f = rng.uniform(2800, 6000)
        d = rng.uniform(0.08, 0.35)
        coin = mix(osc(d, f).decay(d / 3), (0, osc(d, f * 1.58).decay(d / 4), -5), (0, osc(d, f * 2.31).decay(d / 6), -9),
                   (0, noise(0.01, rng).fx('highpass', 3000).decay(0.002), -6))
        parts.append((t, coin, rng.uniform(-14, -2)))
    return mix(*parts).pad(0.2)


@recipe('jianci')  # 剑刺声音: a blade drawn with a ring, then a stab
def _jianci(rng):
    sw = whoosh(rng, 0.35, 800, 5000)
    ring = mix(osc(1.4, 2150).decay(0.5), (0, osc(1.4, 3340).decay(0.35), -3),
               (0, osc(1.4, 4870).decay(0.25), -6), (0, osc(1.4, 6230).decay(0.15), -9))
    stab = mix(osc(0.3, lambda t: 80 + 60 * math.exp(-t / 0.03)).decay(0.08),
               (0, noise(0.15, rng).fx('bandpass', 800, '1q').decay(0.03), -2))
    return mix((0, sw, -4), (0.1, ring, -8), (1.0, whoosh(rng, 0.2, 600, 3000), -6), (1.15, stab))


def ghost(rng, d, fn, formants, voice_text, voice, pitch):
    g = voiced(d, fn, formants, rng, 0.08, 'triangle').times(env_points([(0, 0.4), (0.3, 1), (d - 0.6, 0.8), (d, 0)]))
    w = say(voice_text, voice, pitch, 80, 'tempo', 0.6)
    return mix(g, (0.1, w, -10)).fx('pad', 0, 0.8, 'reverb', 90, 50, 100, 'echo', 0.8, 0.6, 300, 0.3).cut(0, d + 0.6)


@recipe('gjsn')  # 鬼叫声男: a low moaning male ghost
def _gjsn(rng):
    d = 3.8
    f = vibrato(contour([(0, 110), (1.0, 150), (2.2, 120), (d, 90)]), 4.5, 0.03)
    return ghost(rng, d, f, [(400, 0), (800, -6)], 'woooo', 'en+whisper', 10)


@recipe('gjsnv')  # 鬼叫声女: a high wailing female ghost
def _gjsnv(rng):
    d = 3.8
    f = vibrato(contour([(0, 520), (1.2, 820), (2.2, 640), (d, 760)]), 5, 0.03)
    return ghost(rng, d, f, [(800, 0), (1200, -4)], 'hooooo', 'en+f4', 90)


# Page "音乐类音效" ----------------------------------------------------------

@recipe('readygo')  # Ready Go: a game announcer
def _readygo(rng):
    ready = say('Ready', 'en', 40, 140)
    go = say('Go!', 'en', 60, 150).fx('pitch', 200)
    hit = mix(kick(rng), (0, crash(rng, 1.5), -4))
    whoosh_ = whoosh(rng, 0.5, 500, 4000)
    return mix(ready, (0.9, whoosh_, -14), (1.4, go), (1.4, hit, -8)).fx('pad', 0, 0.3, 'reverb', 30)


@recipe('dsjs')  # 倒数计时: ticking countdown five to one, then the final beep
def _dsjs(rng):
    parts = []
    for i, w in enumerate(['五', '四', '三', '二', '一']):
        parts.append((i * 0.85, osc(0.08, 1000).fade(0.002, 0.01), -8))
        parts.append((i * 0.85 + 0.1, say(w, 'cmn', 50, 170)))
    parts.append((5 * 0.85, osc(0.7, 2000).fade(0.002, 0.05), -4))
    return mix(*parts)


@recipe('ddzsl')  # 斗地主胜: a cheerful winning flourish
def _ddzsl(rng):
    bpm = 168
    beat = 60 / bpm
    mel = [(0, 0.5, 'E5'), (0.5, 0.5, 'G5'), (1, 0.5, 'D5'), (1.5, 0.5, 'A5'), (2, 0.5, 'G5'),
           (2.5, 0.5, 'C6'), (3, 0.5, 'A5'), (3.5, 0.5, 'E6'), (4, 3, 'D6')]
    lead = sequence(bpm, mel, lambda n, d: pluck(n, d + 0.3))
    bells = sequence(bpm, [(4, 3, 'G5 B5 D6')], lambda n, d: bell(n, 1.5))
    gong = mix(osc(2.5, 140).decay(0.9), (0, osc(2.5, 210.7).decay(0.6), -6), (0, osc(2.5, 297).decay(0.4), -9),
               (0, noise(0.05, rng).fx('lowpass', 2000).decay(0.01), -10))
    drums = mix(*[(b * beat, tom(160 if b % 2 else 120, rng), -4) for b in range(4)])
    return mix(lead, (0, bells, -6), (0, drums), (4 * beat, gong, -4))


@recipe('dscc')  # 赌神出场: a dramatic, swaggering entrance theme
def _dscc(rng):
    bpm = 80
    mel = [(0, 1.5, 'D4'), (1.5, 0.5, 'C4'), (2, 0.5, 'F4'), (2.5, 0.5, 'E4'), (3, 1, 'Bb4'),
           (4, 1, 'A4'), (5, 0.5, 'G4'), (5.5, 0.5, 'E4'), (6, 1.5, 'D4')]
    lead = sequence(bpm, mel, brass)
    pad = sequence(bpm, [(0, 4, 'D3 F3 A3'), (4, 2, 'C3 E3 G3'), (6, 1.5, 'D3 F3 A3')], strings)
    low = sequence(bpm, [(0, 2, 'D2'), (2, 2, 'D2'), (4, 2, 'C2'), (6, 1.5, 'D2')], bass)
    hits = mix((0, timpani('D2', rng)), (0, crash(rng, 2.5), -10), (4 * 0.75, timpani('C2', rng)))
    return mix(lead, (0, pad, -6), (0, low, -3), (0, hits, -2)).fx('pad', 0, 0.3, 'reverb', 40).cut(0, 5.8).fade(0, 0.3)


@recipe('lol')  # 英雄联盟: an epic swell and a heroic hit
def _lol(rng):
    boom = mix(osc(2.0, lambda t: 40 + 50 * math.exp(-t / 0.06)).decay(0.6),
               (0, noise(0.3, rng, 'brown').fx('lowpass', 600).decay(0.1), 0))
    swell = chord(strings, 'A2 E3 A3 C4 E4', 2.2).times(lambda t: min(1, 0.2 + t / 2.0))
    choir = mix(*[(0, say('aaaa', 'en+f2', 50, 80, 'tempo', 0.5, 'pitch', c), -8) for c in (0, 300, 700)])
    hit = mix(chord(brass, 'A2 E3 A3 C#4 E4', 2.2), (0, crash(rng, 2.5), -6))
    return mix(boom, (0, swell, -4), (0.2, choir, -4), (2.2, boom), (2.2, hit, -2),
               (2.2, timpani('A1', rng), -2)).fx('pad', 0, 0.5, 'reverb', 60).cut(0, 5.0).fade(0, 0.5)


@recipe('sbqgc')  # 伤不起高潮: a pounding dance chorus and the hook line
def _sbqgc(rng):
    bpm = 128
    beat = 60 / bpm
    drums = []
    for b in range(10):
        drums.append((b * beat, kick(rng)))
        drums.append(((b + 0.5) * beat, hat(rng, True), -10))
        if b % 2:
            drums.append((b * beat, clap(rng), -6))
    mel = [(0, 0.5, 'E5'), (0.5, 0.5, 'C5'), (1, 0.5, 'D5'), (1.5, 0.5, 'E5'), (2, 1, 'G5'), (3, 1, 'E5'),
           (4, 0.5, 'F5'), (4.5, 0.5, 'E5'), (5, 0.5, 'C5'), (5.5, 0.5, 'D5'), (6, 0.5, 'B4'), (6.5, 0.5, 'G4'),
           (7, 3, 'A4')]
    lead = sequence(bpm, mel, lambda n, d: mix(square(n, d), (0, osc(d, hz(n) * 1.005, 'saw'), -6)).fx('lowpass', 3500))
    low = sequence(bpm, [(b, 0.5, 'A1' if b < 4 or b >= 7 else ('F1' if b < 6 else 'G1')) for b in
                         [x * 0.5 for x in range(20)]], bass)
    hook = say('伤不起，真的伤不起！', 'cmn+f2', 70, 230)
    return mix(mix(*drums), (0, lead, -4), (0, low, -2), (beat * 4, hook, 2))


@recipe('jzqf')  # 紧张气氛: pulsing low strings, heartbeat and a high shiver
def _jzqf(rng):
    bpm = 112
    beat = 60 / bpm
    d = 5.4
    ostinato = 'C2 C2 G2 C2 C2 F#2 C2 C2'.split()
    pulse = sequence(bpm, [(i * 0.5, 0.35, ostinato[i % len(ostinato)]) for i in range(20)], strings)
    shiver = chord(strings, 'Ab5 A5 Eb6', d).times(lambda t: (0.6 + 0.4 * math.sin(2 * math.pi * 12 * t)) * min(1, t / 2 + 0.2))
    heart = mix(*[(k * beat * 2 + o, kick(rng), g) for k in range(5) for o, g in ((0, 0), (0.18, -5))])
    return mix(pulse, (0, shiver, -10), (0, heart, -4), length=d).fade(0.001, 0.3)


@recipe('mlgg')  # 玛丽通关: a chirpy 8-bit victory jingle
def _mlgg(rng):
    bpm = 180
    events = [(0, 0.5, 'C5'), (0.5, 0.5, 'F5'), (1, 0.5, 'E5'), (1.5, 0.5, 'A5'),
              (2, 0.5, 'G5'), (2.5, 0.5, 'D6'), (3, 0.25, 'C6'), (3.25, 0.25, 'Bb5'), (3.5, 0.5, 'A5'),
              (4, 0.5, 'C6'), (4.5, 0.25, 'G5'), (4.75, 0.25, 'A5'), (5, 1, 'E6'), (6, 3, 'F6 C6 A5')]
    lead = sequence(bpm, events, square)
    low = sequence(bpm, [(0, 2, 'F3'), (2, 2, 'Bb2'), (4, 2, 'C3'), (6, 3, 'F3')],
                   lambda n, d: osc(d, hz(n), 'triangle').fade(0.005, 0.05))
    return mix(lead, (0, low, -2))


@recipe('mhyy')  # 魔幻音乐: sparkling bells over a shimmering pad
def _mhyy(rng):
    notes = 'A5 E6 B5 G#6 F#6 C#6 D6 A6 E6 B5 C#6 G#5 F#5 D6 B5 E6'.split()
    bells = mix(*[(i * 0.22, bell(n, 1.6), -2 * (i % 3)) for i, n in enumerate(notes)])
    pad = chord(strings, 'D4 A4 C#5 E5', 4.5).times(lambda t: 0.5 + 0.5 * math.sin(2 * math.pi * 0.4 * t) ** 2)
    return mix(bells, (0, pad, -12)).fx('pad', 0, 1.0, 'echo', 0.8, 0.7, 330, 0.3, 'reverb', 70).cut(0, 5.5).fade(0, 0.6)


@recipe('qspt')  # 气势片头: thundering drums building to a brass blast
def _qspt(rng):
    bpm = 100
    beat = 60 / bpm
    drum = []
    for i, (b, f) in enumerate([(0, 70), (1, 70), (1.5, 90), (2, 70), (3, 70), (3.25, 90), (3.5, 110), (3.75, 130)]):
        drum.append((b * beat, tom(f, rng, 0.7), -6 + i * 0.6))
    brass_ = mix((4 * beat, chord(brass, 'D3 A3 D4 F4 A4', 0.35)), (4.5 * beat, chord(brass, 'D3 Bb3 D4 F4 Bb4', 0.35)),
                 (5.25 * beat, chord(brass, 'D3 A3 D4 F#4 A4', 1.8)))
    hits = mix((4 * beat, timpani('D2', rng)), (5.25 * beat, timpani('A1', rng)), (5.25 * beat, crash(rng, 2.0), -6))
    return mix(mix(*drum), (0, brass_, -2), (0, hits)).fx('pad', 0, 0.3, 'reverb', 40).cut(0, 5.5).fade(0, 0.4)


@recipe('xwlb')  # 新闻联播: a stately broadcast theme with a timpani roll
def _xwlb(rng):
    bpm = 76
    rl = roll(lambda: timpani('Eb2', rng, 0.4), 1.0, 16, rng)
    mel = [(1.2, 0.5, 'Bb4'), (1.7, 0.5, 'Eb5'), (2.2, 1, 'D5'), (3.2, 0.5, 'C5'), (3.7, 0.5, 'G5'),
           (4.2, 0.5, 'F5'), (4.7, 0.5, 'D5'), (5.2, 1.8, 'Eb5')]
    lead = sequence(bpm, mel, brass)
    pad = sequence(bpm, [(1.2, 2, 'Eb3 G3 Bb3'), (3.2, 1, 'C3 Eb3 G3'), (4.2, 1, 'Bb2 D3 F3'),
                         (5.2, 1.8, 'Eb3 G3 Bb3 Eb4')], strings)
    horns = sequence(bpm, [(1.2, 2, 'Eb2 Bb2'), (3.2, 1, 'C3 G3'), (4.2, 1, 'Bb2 F3'), (5.2, 1.8, 'Eb2 Bb2 Eb3')], brass)
    return mix(rl, (0, lead, -1), (0, pad, -6), (0, horns, -8), (5.2 * 60 / bpm, crash(rng), -12)).cut(0, 5.8).fade(0, 0.3)


@recipe('ymfq1')  # 幽默风趣①: a bouncy oom-pah with a reedy tune
def _ymfq1(rng):
    bpm = 138
    # one chord a beat: bass note on the beat, the chord's upper notes on the off-beat
    harmony = [('C3', 'E4 G4'), ('G2', 'E4 G4')] * 2 + [('G2', 'F4 B4'), ('D3', 'F4 B4')] * 2 + [('C3', 'E4 G4')] * 2
    oom = sequence(bpm, [(b, 0.4, low) for b, (low, _) in enumerate(harmony)], reed)
    pah = sequence(bpm, [(b + 0.5, 0.3, upper) for b, (_, upper) in enumerate(harmony)], lambda n, d: pluck(n, 0.3))
    mel = [(0, 1, 'C5'), (1, 0.5, 'B4'), (1.5, 0.5, 'C5'), (2, 0.5, 'A5'), (2.5, 0.5, 'G5'), (3, 1, 'E5'),
           (4, 0.5, 'F5'), (4.5, 0.5, 'D5'), (5, 0.5, 'B4'), (5.5, 0.5, 'D5'), (6, 1, 'G5'), (7, 0.5, 'F5'),
           (7.5, 0.5, 'B4'), (8, 1.5, 'C5')]
    tune = sequence(bpm, mel, lambda n, d: reed(n, d * 0.8))
    return mix((0, oom, -2), (0, pah, -8), (0, tune, -1))


@recipe('ymfq2')  # 幽默风趣②: sneaky pizzicato tiptoeing
def _ymfq2(rng):
    bpm = 120
    notes = 'A3 - C4 - E4 D4 - - B3 - D4 - F4 E4 - - C4 D4 E4 G#3 A3'.split()
    events = [(i * 0.5, 0.4, n) for i, n in enumerate(notes) if n != '-']
    s = sequence(bpm, events, lambda n, d: pluck(n, 0.4))
    low = sequence(bpm, [(i, 0.3, 'A2' if i % 2 == 0 else 'E2') for i in range(11)], lambda n, d: pluck(n, 0.5))
    return mix(s, (0, low, -4))


@recipe('ymfq3')  # 幽默风趣③: a kazoo tune that slides off the end
def _ymfq3(rng):
    bpm = 150
    mel = [(0, 0.5, 'D5'), (0.5, 0.5, 'A4'), (1, 0.5, 'B4'), (1.5, 0.5, 'F#4'), (2, 1, 'G4'),
           (3, 0.5, 'E4'), (3.5, 0.5, 'G4'), (4, 0.5, 'F#4'), (4.5, 0.5, 'B4'), (5, 0.5, 'A4'),
           (5.5, 0.5, 'E5'), (6, 0.5, 'C#5'), (6.5, 1, 'D5')]
    tune = sequence(bpm, mel, kazoo)
    slide_ = osc(0.9, lambda t: hz('D5') * 2 ** (-1.5 * t), 'saw')
    slide_ = slide_.fx('bandpass', 1000, '1q').times(env_points([(0, 1), (0.7, 0.8), (0.9, 0)]))
    drums = mix(*[(b * 60 / bpm, tom(150 if b % 2 else 110, rng, 0.3), -8) for b in range(8)])
    return mix(tune, (0, drums), (7.6 * 60 / bpm, slide_, -3), (8.3 * 60 / bpm + 0.6, kick(rng), -4))


@recipe('nrsy')  # 女人呻吟: a woman's weary sighs
def _nrsy(rng):
    a = say('嗯', 'cmn+f4', 60, 80, 'tempo', 0.45, 'pitch', 200)
    b = say('啊', 'cmn+f4', 55, 80, 'tempo', 0.4, 'bend', '0,-300,0.8')
    breath = noise(0.6, rng).fx('bandpass', 1200, '0.8q').fade(0.1, 0.3)
    return mix(a, (a.dur + 0.05, breath, -20), (a.dur + 0.4, b)).fx('tremolo', 5, 15)


@recipe('bdnr')  # 鞭打男人: whip cracks and a man's yelps
def _bdnr(rng):
    def crack():
        sw = whoosh(rng, 0.18, 500, 3000)
        snap = noise(0.1, rng).fx('highpass', 1000).decay(0.012, 0.0003)
        return mix((0, sw, -10), (0.17, snap))
    ow = say('啊！', 'cmn', 30, 200, 'pitch', -100)
    ow2 = say('哎哟！', 'cmn', 40, 220)
    return mix(crack(), (0.35, ow, -3), (1.3, crack()), (1.65, ow2, -3))


# ---------------------------------------------------------------------------
# Finishing and encoding.
# ---------------------------------------------------------------------------

def rms_db(snd):
    rms = math.sqrt(sum(x * x for x in snd.s) / max(1, len(snd.s)))
    return 20 * math.log10(rms) if rms > 0 else -200.0


def finish(snd, path):
    """Level, trim and encode one effect so that it sounds at its first sample."""
    peak = 10 ** (PEAK_DB / 20)
    snd = snd.norm(peak)
    level = rms_db(snd)
    if level < QUIETEST_RMS_DB:
        lift = min(MOST_LIFT_DB, QUIETEST_RMS_DB - level)
        snd = snd.gain(lift).fx('compand', '0.0005,0.05', '-90,-90,-10,-10,0,-7', 0, -90, 0.001).norm(peak)
    level = rms_db(snd)
    if level > LOUDEST_RMS_DB:
        snd = snd.gain(LOUDEST_RMS_DB - level)
    # Drop anything quiet before the sound proper.
    thr = 10 ** (ONSET_DB / 20)
    start = next((i for i, x in enumerate(snd.s) if abs(x) > thr), 0)
    snd = Sound(snd.s[start:])
    if snd.dur > LONGEST:
        snd = snd.cut(0, LONGEST).fade(0, 0.3)
    if snd.dur < SHORTEST:
        snd = snd.pad(SHORTEST - snd.dur + 0.02)
    wav = os.path.join(TMP, 'final.wav')
    run(['sox', '-R', '-V1', '-t', 'f32', '-r', str(RATE), '-c', '1', '-', '-b', '16', wav], snd.s.tobytes())
    # lame keeps its Info/LAME header, which tells decoders the encoder delay and padding.
    run(['lame', '--quiet', '-m', 'm', '-b', str(BITRATE_KBPS), '--resample', '44.1', '-q', '2',
         '--noreplaygain', wav, path])


def main(argv):
    global TMP
    if len(argv) < 2:
        sys.exit(__doc__)
    outdir = argv[1]
    names = argv[2:] or list(RECIPES)
    unknown = [n for n in names if n not in RECIPES]
    if unknown:
        sys.exit('unknown effect: ' + ' '.join(unknown))
    os.makedirs(outdir, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix='qinghe-sounds-') as tmp:
        TMP = tmp
        for name in names:
            snd = RECIPES[name](seeded(name))
            finish(snd, os.path.join(outdir, name + '.mp3'))
            print(name + '.mp3')


if __name__ == '__main__':
    main(sys.argv)
