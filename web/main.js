// The page of `tessamire view`: reads the data the program embedded, builds the controls and
// hands everything to the viewer. Keys: 1..9 select an input (overlaid: show it), space plays,
// arrows step, W wireframe, A frames all, F frames the selection, O side by side / overlaid; a
// click selects the mesh under it. The page's state lives in its address too
// (page.html#frame=55&colour=detail&up=z&input=2): opened with one, the page starts there, and
// the address follows what the user changes, so that a view can be shared as a link.
// `window.tessamire` lets tests and measurements read what the page decoded and drew.
import { quantisationBound, scaleColour } from './data.js';
import { Viewer } from './viewer.js';

const $ = (id) => document.getElementById(id);

const page = JSON.parse($('tessamire-data').textContent);
const viewer = new Viewer($('canvas'), page);
document.title = page.title;

let resolveReady;
const ready = new Promise((resolve) => { resolveReady = resolve; });
const stats = { draws: 0, firstFrameMs: null };

// Labels over the panels: each panel's selected (or first) input's number (its key) and name,
// and how many meshes the panel draws.
function placeLabels(panels) {
  const box = $('labels');
  box.replaceChildren(...panels.map(({ input, inputs, x }) => {
    const label = document.createElement('div');
    label.className = 'label' + (input.index === viewer.selected ? ' selected' : '');
    label.style.left = `${x + 8}px`;
    label.textContent = `${input.index + 1}  ${input.name}` + (inputs.length > 1 ? `  (${inputs.indexOf(input) + 1} of ${inputs.length} meshes)` : '');
    return label;
  }));
}

viewer.onDraw = (panels) => {
  ++stats.draws;
  placeLabels(panels);
  if (stats.firstFrameMs === null) {
    // The frame is on screen once the browser has composited it: one animation frame later.
    requestAnimationFrame(() => {
      stats.firstFrameMs = performance.now();
      resolveReady();
    });
  }
};

// The colour legend of the current mode.
function drawLegend() {
  const legend = $('legend');
  const mode = viewer.mode;
  const scale = page.scales[mode];
  legend.hidden = mode === 'shaded';
  if (legend.hidden) return;
  const bar = $('legend-bar'), context = bar.getContext('2d');
  const image = context.createImageData(bar.width, 1), rgb = [0, 0, 0];
  const [lo, hi] = [scale.stops[0][0], scale.stops[scale.stops.length - 1][0]];
  for (let x = 0; x < bar.width; ++x) {
    scaleColour(scale.stops, lo + ((hi - lo) * x) / (bar.width - 1), rgb, 0);
    image.data.set([...rgb, 255], 4 * x);
  }
  for (let y = 0; y < bar.height; ++y) context.putImageData(image, 0, y);
  let ticks = scale.ticks;
  let title = scale.title;
  if (mode === 'distance') {
    const max = viewer.distanceMax;
    ticks = [[0, '0'], [0.5, (max / 2).toPrecision(3)], [1, max.toPrecision(3)]];
    title = `${scale.title} ${viewer.inputs[viewer.reference].name}`;
  }
  $('legend-ticks').replaceChildren(...ticks.map(([at, text]) => {
    const tick = document.createElement('span');
    tick.style.left = `${(100 * (at - lo)) / (hi - lo)}%`;
    tick.textContent = text;
    return tick;
  }));
  $('legend-title').textContent = title;
  $('legend-note').textContent = scale.note;
}

function showFrame() {
  $('slider').value = viewer.frameIndex;
  $('frame').textContent = `frame ${viewer.frameNumber()}`;
  if (viewer.mode === 'distance') drawLegend();
}

function setFrame(index) {
  viewer.setFrame(index);
  showFrame();
  if (!playing) writeAddress();
}

// The address's state: the frame's number, the colour mode, the up axis and the selected input
// (from 1).
const kColourNames = { shaded: 'shaded', kept: 'detail', distance: 'distance', weights: 'weights' };
function writeAddress() {
  const state = new URLSearchParams({
    frame: String(viewer.frameNumber()), colour: kColourNames[viewer.mode], up: viewer.up,
    input: String(viewer.selected + 1),
  });
  const hash = `#${state}`;
  if (location.hash !== hash) history.replaceState(null, '', hash);
}

// Takes what the address gives and the page offers; anything else keeps its current state.
function readAddress() {
  const state = new URLSearchParams(location.hash.slice(1));
  const frame = Number(state.get('frame'));
  if (state.has('frame') && Number.isFinite(frame)) {
    // The frame of that number, else the nearest.
    let best = 0;
    viewer.timeline.forEach((f, k) => { if (Math.abs(f - frame) < Math.abs(viewer.timeline[best] - frame)) best = k; });
    viewer.setFrame(best);
  }
  const mode = Object.keys(kColourNames).find((m) => kColourNames[m] === state.get('colour'));
  if (mode && [...$('mode').options].some((o) => o.value === mode)) {
    $('mode').value = mode;
    setMode(mode);
  }
  const up = state.get('up');
  if (up === 'y' || up === 'z') { $('up').value = up; viewer.setUp(up); }
  const input = Number(state.get('input'));
  if (Number.isInteger(input) && input >= 1 && input <= viewer.inputs.length) select(input - 1);
  showFrame();
}

// Playback: frames advance with time at the page's frame rate; `everyFrame` shows each frame in
// turn as fast as the browser draws them (measurements).
let playing = null;
function play(everyFrame = false) {
  const start = performance.now(), first = viewer.frameIndex, count = viewer.timeline.length;
  playing = { everyFrame };
  $('play').textContent = 'pause';
  const step = (now) => {
    if (!playing) return;
    const next = everyFrame ? (viewer.frameIndex + 1) % count
      : (first + Math.floor(((now - start) / 1000) * page.fps)) % count;
    if (next !== viewer.frameIndex) setFrame(next);
    requestAnimationFrame(step);
  };
  requestAnimationFrame(step);
}
function pause() {
  playing = null;
  $('play').textContent = 'play';
  writeAddress();
}

function setMode(mode) {
  viewer.setMode(mode);
  $('reference-box').hidden = viewer.mode !== 'distance';
  drawLegend();
}

function select(index) {
  viewer.select(index);
  $('input').value = viewer.selected;
  writeAddress();
}

// The controls.
const slider = $('slider');
slider.max = viewer.timeline.length - 1;
slider.addEventListener('input', () => setFrame(Number(slider.value)));
$('play').addEventListener('click', () => (playing ? pause() : play()));
$('play').disabled = viewer.timeline.length < 2;

const modes = [['shaded', 'shaded'], ['kept', 'detail kept'], ['distance', 'distance'], ['weights', 'weights']];
const offered = {
  shaded: true,
  kept: viewer.inputs.some((i) => i.hasKept()),
  distance: viewer.inputs.some((i) => viewer.partner(i)),
  weights: viewer.inputs.some((i) => i.weights),
};
$('mode').replaceChildren(...modes.filter(([m]) => offered[m]).map(([m, text]) => new Option(text, m)));
$('mode').addEventListener('change', () => { setMode($('mode').value); writeAddress(); });
$('input').replaceChildren(...viewer.inputs.map((input, i) => new Option(`${i + 1}  ${input.name}`, i)));
$('input').addEventListener('change', () => select(Number($('input').value)));
$('reference').replaceChildren(...viewer.inputs.map((input, i) => new Option(input.name, i)));
$('reference').value = viewer.reference;
$('reference').addEventListener('change', () => {
  viewer.setReference(Number($('reference').value));
  drawLegend();
});
$('reference-box').hidden = true;
$('wireframe').addEventListener('change', () => viewer.setWireframe($('wireframe').checked));
$('up').value = viewer.up;
$('up').addEventListener('change', () => { viewer.setUp($('up').value); writeAddress(); });
$('layout').addEventListener('change', () => { viewer.setLayout($('layout').value); viewer.frameAll(); });
$('frame-all').addEventListener('click', () => viewer.frameAll());
$('frame-selection').addEventListener('click', () => viewer.frameSelection());
// A click (not a drag of the camera) selects the mesh under it, or its panel's.
let down = null;
$('canvas').addEventListener('pointerdown', (event) => { down = [event.offsetX, event.offsetY]; });
$('canvas').addEventListener('pointerup', (event) => {
  if (!down || Math.hypot(event.offsetX - down[0], event.offsetY - down[1]) > 4) return;
  const hit = viewer.pick(event.offsetX, event.offsetY);
  if (hit && (viewer.layout === 'side' || viewer.groups[hit.group].length > 1)) select(hit.index);
});

document.addEventListener('keydown', (event) => {
  const key = event.key;
  // Arrows on the slider or a list move that control.
  const target = event.target;
  if (key.startsWith('Arrow') && (target instanceof HTMLSelectElement || target.type === 'range')) return;
  if (key >= '1' && key <= '9') select(Number(key) - 1);
  else if (key === ' ') playing ? pause() : play();
  else if (key === 'ArrowRight') setFrame(Math.min(viewer.frameIndex + 1, viewer.timeline.length - 1));
  else if (key === 'ArrowLeft') setFrame(Math.max(viewer.frameIndex - 1, 0));
  else if (key === 'w' || key === 'W') { $('wireframe').checked = !$('wireframe').checked; viewer.setWireframe($('wireframe').checked); }
  else if (key === 'a' || key === 'A') viewer.frameAll();
  else if (key === 'f' || key === 'F') viewer.frameSelection();
  else if (key === 'o' || key === 'O') { $('layout').value = viewer.layout === 'side' ? 'overlay' : 'side'; viewer.setLayout($('layout').value); }
  else return;
  event.preventDefault();
});

new ResizeObserver(() => viewer.resize()).observe($('canvas'));
showFrame();
drawLegend();
readAddress();
window.addEventListener('hashchange', readAddress);

function toBase64(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(text);
}

// For tests and measurements.
window.tessamire = {
  ready,
  stats,
  inputs: () => viewer.inputs.map((i) => ({ name: i.name, frames: Array.from(i.frames), points: i.pointCount })),
  timeline: () => Array.from(viewer.timeline),
  frameIndex: () => viewer.frameIndex,
  // What the address holds: the frame's number, the colour mode, the up axis, the input from 1.
  state: () => Object.fromEntries(new URLSearchParams(location.hash.slice(1))),
  shown: () => ({ frame: viewer.frameNumber(), colour: kColourNames[viewer.mode], up: viewer.up, input: viewer.selected + 1 }),
  panels: () => viewer.panels().map((p) => p.inputs.map((i) => i.index)),
  // The positions decoded for input `i`'s own frame `s`, and how far each axis may be off.
  positions: (i, s) => Array.from(viewer.inputs[i].decoded(s)),
  bound: (i, s) => quantisationBound(page.inputs[i].positions[s]),
  projectedBounds: () => viewer.projectedBounds(),
  pixels: () => {
    const { width, height, rows } = viewer.pixels();
    return { width, height, rgba: toBase64(rows) };
  },
  // Plays every frame in turn for `seconds` and answers the frames drawn per second.
  measurePlayback: (seconds) => new Promise((resolve) => {
    const draws = stats.draws, start = performance.now();
    play(true);
    setTimeout(() => {
      pause();
      const elapsed = (performance.now() - start) / 1000;
      resolve({ frames: stats.draws - draws, seconds: elapsed, fps: (stats.draws - draws) / elapsed });
    }, seconds * 1000);
  }),
};
