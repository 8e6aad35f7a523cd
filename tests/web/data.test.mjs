// The page's decoding and array work (web/data.js), in Node without a browser.
import assert from 'node:assert/strict';
import test from 'node:test';
import {
  decodePositions, edges, pointNormals, sampleAt, scaleColour, timeline, triangles,
} from '../../web/data.js';

const base64 = (typed) => Buffer.from(typed.buffer, typed.byteOffset, typed.byteLength).toString('base64');

test('positions decode as min + code * step per axis', () => {
  const frame = { min: [1, -2, 0.5], step: [0.25, 1e-3, 0], data: base64(Uint16Array.from([0, 65535, 7, 4, 0, 65535])) };
  assert.deepEqual(Array.from(decodePositions(frame, 2)), [1, -2 + 65.535, 0.5, 2, -2, 0.5]);
  assert.throws(() => decodePositions(frame, 3), /2 points, its mesh 3/);
});

test('quads split into two triangles, triangles stay one; edges are shared once', () => {
  // Two quads side by side and a triangle on top: points 0..5 in a grid, 6 above.
  const polygons = Int32Array.from([0, 1, 4, 3, 1, 2, 5, 4, 3, 4, 6, 6]);
  assert.deepEqual(Array.from(triangles(polygons)), [0, 1, 4, 0, 4, 3, 1, 2, 5, 1, 5, 4, 3, 4, 6]);
  const pairs = Array.from(edges(polygons, 7));
  const keys = [];
  for (let i = 0; i < pairs.length; i += 2) keys.push(`${pairs[i]}-${pairs[i + 1]}`);
  assert.deepEqual(keys.sort(), ['0-1', '0-3', '1-2', '1-4', '2-5', '3-4', '3-6', '4-5', '4-6'].sort());
});

test('point normals of a flat quad and of a tent are unit and face out', () => {
  const flat = Float64Array.from([0, 0, 0, 2, 0, 0, 2, 1, 0, 0, 1, 0]);
  const normals = pointNormals(flat, Int32Array.from([0, 1, 2, 3]), new Float64Array(12));
  for (let i = 0; i < 4; ++i) assert.deepEqual(Array.from(normals.subarray(3 * i, 3 * i + 3)), [0, 0, 1]);
  // Two triangles folded along the x axis at 90 degrees: the ridge points lean between both.
  const tent = Float64Array.from([0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1]);
  const n = pointNormals(tent, Int32Array.from([0, 1, 2, 2, 0, 3, 1, 1]), new Float64Array(12));
  assert.ok(Math.abs(Math.hypot(n[0], n[1], n[2]) - 1) < 1e-12);
  assert.ok(Math.abs(n[1] - n[2]) < 1e-12 && n[0] === 0);
});

test('the timeline takes animated inputs; a still mesh shows at every frame', () => {
  const inputs = [{ frames: [0] }, { frames: [1, 2, 3] }, { frames: [2.5, 4] }];
  assert.deepEqual(Array.from(timeline(inputs)), [1, 2, 2.5, 3, 4]);
  assert.deepEqual(Array.from(timeline([{ frames: [0] }])), [0]);
  assert.equal(sampleAt([1, 2, 3], 0), 0);
  assert.equal(sampleAt([1, 2, 3], 2.9), 1);
  assert.equal(sampleAt([1, 2, 3], 10), 2);
});

test('colour scales mix between stops, clamp, and give the last stop to NaN', () => {
  const stops = [[0, 214, 48, 39], [0.5, 254, 224, 144], [1, 69, 117, 180], [1.5, 150, 60, 170]];
  const rgb = [0, 0, 0];
  scaleColour(stops, 0.25, rgb, 0);
  assert.deepEqual(rgb, [234, 136, 92]);  // headless::KeptColor(0.25)
  scaleColour(stops, -1, rgb, 0);
  assert.deepEqual(rgb, [214, 48, 39]);
  scaleColour(stops, NaN, rgb, 0);
  assert.deepEqual(rgb, [150, 60, 170]);
});
