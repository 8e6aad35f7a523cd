// The page's data as `tessamire view` writes it (headless/io/page.h) and the work on plain arrays
// the viewer needs: decoding positions, triangles and edges from polygons, point normals, the
// timeline, colour scales. Nothing here touches the DOM or three.js, so Node runs it in tests.

// Bytes of base64 text.
export function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// Little-endian arrays of the written types; the bytes are copied so that the view is aligned.
function typed(Type, text) {
  const bytes = decodeBase64(text);
  if (bytes.length % Type.BYTES_PER_ELEMENT !== 0)
    throw new Error(`a data block of ${bytes.length} bytes is no whole number of values`);
  return new Type(bytes.buffer, 0, bytes.length / Type.BYTES_PER_ELEMENT);
}

// One frame's positions: each coordinate a 16-bit code within the frame's bounds, decoded as
// min + code * step per axis (step = (max - min) / 65535), so every coordinate is within step / 2
// of the written one. Answers float64 values, three per point.
export function decodePositions(frame, pointCount) {
  const codes = typed(Uint16Array, frame.data);
  if (codes.length !== 3 * pointCount)
    throw new Error(`a frame holds ${codes.length / 3} points, its mesh ${pointCount}`);
  const out = new Float64Array(codes.length);
  const [mx, my, mz] = frame.min;
  const [sx, sy, sz] = frame.step;
  for (let i = 0; i < codes.length; i += 3) {
    out[i] = mx + codes[i] * sx;
    out[i + 1] = my + codes[i + 1] * sy;
    out[i + 2] = mz + codes[i + 2] * sz;
  }
  return out;
}

// The largest distance, per axis, between a decoded coordinate and the written one.
export function quantisationBound(frame) {
  return frame.step.map((s) => s / 2);
}

// Polygons as four point indices each (a triangle repeats its third).
export function decodePolygons(topology) {
  const polygons = typed(Int32Array, topology.polygons);
  if (polygons.length % 4 !== 0) throw new Error('polygons come in fours');
  for (const index of polygons)
    if (index < 0 || index >= topology.points)
      throw new Error(`a polygon names point ${index} of ${topology.points}`);
  return polygons;
}

// Triangles of the polygons: a quad (a, b, c, d) as (a, b, c) and (a, c, d), a triangle once.
export function triangles(polygons) {
  let count = 0;
  for (let p = 0; p < polygons.length; p += 4) count += polygons[p + 2] === polygons[p + 3] ? 1 : 2;
  const out = new Uint32Array(3 * count);
  let k = 0;
  for (let p = 0; p < polygons.length; p += 4) {
    const a = polygons[p], b = polygons[p + 1], c = polygons[p + 2], d = polygons[p + 3];
    out[k++] = a; out[k++] = b; out[k++] = c;
    if (c !== d) { out[k++] = a; out[k++] = c; out[k++] = d; }
  }
  return out;
}

// Each edge of the polygons once, as pairs of point indices (the wireframe).
export function edges(polygons, pointCount) {
  const keys = [];
  for (let p = 0; p < polygons.length; p += 4) {
    const corners = polygons[p + 2] === polygons[p + 3] ? 3 : 4;
    for (let i = 0; i < corners; ++i) {
      const u = polygons[p + i], v = polygons[p + ((i + 1) % corners)];
      if (u !== v) keys.push(Math.min(u, v) * pointCount + Math.max(u, v));
    }
  }
  const sorted = Float64Array.from(keys).sort();
  const out = [];
  for (let i = 0; i < sorted.length; ++i) {
    if (i > 0 && sorted[i] === sorted[i - 1]) continue;
    const u = Math.floor(sorted[i] / pointCount);
    out.push(u, sorted[i] - u * pointCount);
  }
  return Uint32Array.from(out);
}

// Point normals as the pictures draw them: each polygon adds the cross product of its diagonals,
// (c - a) x (d - b), twice its area along its normal, to each of its corners once; the sums are
// normalised (a point on no polygon keeps (0, 0, 0)). `positions` three per point; writes `out`.
export function pointNormals(positions, polygons, out) {
  out.fill(0);
  for (let p = 0; p < polygons.length; p += 4) {
    const a = 3 * polygons[p], b = 3 * polygons[p + 1], c = 3 * polygons[p + 2], d = 3 * polygons[p + 3];
    const ux = positions[c] - positions[a], uy = positions[c + 1] - positions[a + 1], uz = positions[c + 2] - positions[a + 2];
    const vx = positions[d] - positions[b], vy = positions[d + 1] - positions[b + 1], vz = positions[d + 2] - positions[b + 2];
    const nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    const corners = c === d ? [a, b, c] : [a, b, c, d];
    for (const k of corners) { out[k] += nx; out[k + 1] += ny; out[k + 2] += nz; }
  }
  for (let i = 0; i < out.length; i += 3) {
    const length = Math.hypot(out[i], out[i + 1], out[i + 2]);
    if (length > 0) { out[i] /= length; out[i + 1] /= length; out[i + 2] /= length; }
  }
  return out;
}

// The frame numbers of the page: every animated input's, ascending, each once (a still mesh
// shows at every frame; only still meshes give one frame).
export function timeline(inputs) {
  const all = new Set();
  const animated = inputs.filter((input) => input.frames.length > 1);
  for (const input of animated.length > 0 ? animated : inputs) for (const f of input.frames) all.add(f);
  return Float64Array.from(all).sort();
}

// Which of an input's frames shows at frame `f`: the last at or before it, else its first.
export function sampleAt(frames, f) {
  let lo = 0, hi = frames.length - 1;
  if (f < frames[0]) return 0;
  while (lo < hi) {
    const mid = (lo + hi + 1) >> 1;
    if (frames[mid] <= f) lo = mid; else hi = mid - 1;
  }
  return lo;
}

// A colour scale's colour at `value`: stops [at, r, g, b] ascending, the value clamped to the
// first and last stop, channels mixed linearly and rounded (as the pictures mix them). A value
// that is not a number takes the last stop. Writes three bytes at `out[offset]`.
export function scaleColour(stops, value, out, offset) {
  const first = stops[0][0], last = stops[stops.length - 1][0];
  const v = Number.isNaN(value) ? last : Math.min(Math.max(value, first), last);
  let i = 0;
  while (i + 2 < stops.length && v > stops[i + 1][0]) ++i;
  const a = stops[i], b = stops[i + 1];
  const t = (v - a[0]) / (b[0] - a[0]);
  for (let c = 1; c <= 3; ++c) out[offset + c - 1] = Math.round(a[c] + t * (b[c] - a[c]));
}

// The detail kept per point of one frame: 8-bit codes over 0 .. scale.max.
export function decodeKept(text, scale, pointCount) {
  const codes = decodeBase64(text);
  if (codes.length !== pointCount) throw new Error(`${codes.length} kept values for ${pointCount} points`);
  const out = new Float32Array(pointCount);
  for (let i = 0; i < pointCount; ++i) out[i] = (codes[i] / scale.codeMax) * scale.max;
  return out;
}

export function decodeWeights(text, pointCount) {
  const weights = typed(Float32Array, text);
  if (weights.length !== pointCount) throw new Error(`${weights.length} weights for ${pointCount} points`);
  return weights;
}

// Per point, the distance between two frames of the same points (three coordinates each).
export function distances(a, b, out) {
  for (let i = 0, k = 0; k < out.length; i += 3, ++k)
    out[k] = Math.hypot(a[i] - b[i], a[i + 1] - b[i + 1], a[i + 2] - b[i + 2]);
  return out;
}
