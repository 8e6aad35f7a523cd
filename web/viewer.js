// The 3D view: every input as a three.js mesh (and its wireframe), side by side in panels or
// overlaid in one, all seen by one camera; the frame shown, the colour mode and the up axis.
// The inputs of one group (the meshes of one character: a glTF's or a scene's) share a panel.
// Positions are decoded per frame when first shown and kept; normals are computed here.
import * as THREE from 'three';
import { OrbitControls } from 'three/examples/jsm/controls/OrbitControls.js';
import {
  decodeKept, decodePolygons, decodePositions, decodeWeights, distances, edges, pointNormals,
  sampleAt, scaleColour, timeline, triangles,
} from './data.js';

const kSurface = [196, 170, 150];  // the pictures' surface colour
const kNoData = [120, 120, 120];   // a mesh the colour mode has nothing for
const kFieldOfView = 30;
// The pictures' default view: 35 degrees around the vertical axis, 25 above the horizon.
const kAzimuth = (35 * Math.PI) / 180, kElevation = (25 * Math.PI) / 180;

// sRGB bytes to the linear values three.js lights and blends in.
const kLinear = Float32Array.from({ length: 256 }, (_, i) => {
  const c = i / 255;
  return c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
});

// Whether WebGL draws in software here (SwiftShader, llvmpipe): multisampling there costs more
// than the rest of a frame, so such a browser draws without it.
function softwareRenderer() {
  const gl = document.createElement('canvas').getContext('webgl2');
  if (!gl) return false;
  const info = gl.getExtension('WEBGL_debug_renderer_info');
  const name = String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
  gl.getExtension('WEBGL_lose_context')?.loseContext();
  return /swiftshader|llvmpipe|software/i.test(name);
}

class Input {
  constructor(page, index, topology) {
    const data = page.inputs[index];
    this.index = index;
    this.name = data.name;
    this.group = 0;  // the index of its group among the viewer's groups
    this.data = data;
    this.frames = Float64Array.from(data.frames);
    this.pointCount = topology.points;
    this.polygons = topology.polygons;
    this.samples = new Map();  // sample index -> {positions (Float32Array), normals}
    this.kept = new Map();     // sample index -> Float32Array
    this.weights = data.weights ? decodeWeights(data.weights, this.pointCount) : null;

    const geometry = new THREE.BufferGeometry();
    this.position = new THREE.BufferAttribute(new Float32Array(3 * this.pointCount), 3);
    this.normal = new THREE.BufferAttribute(new Float32Array(3 * this.pointCount), 3);
    this.colour = new THREE.BufferAttribute(new Float32Array(3 * this.pointCount), 3);
    for (const a of [this.position, this.normal, this.colour]) a.setUsage(THREE.DynamicDrawUsage);
    geometry.setAttribute('position', this.position);
    geometry.setAttribute('normal', this.normal);
    geometry.setAttribute('color', this.colour);
    geometry.setIndex(new THREE.BufferAttribute(topology.triangles, 1));
    this.material = new THREE.MeshPhongMaterial({
      side: THREE.DoubleSide, shininess: 30, specular: new THREE.Color(0.1, 0.1, 0.1),
    });
    this.mesh = new THREE.Mesh(geometry, this.material);
    this.mesh.frustumCulled = false;
    // The wireframe's edges are found when it is first shown.
    this.topology = topology;
    this.wire = new THREE.LineSegments(new THREE.BufferGeometry(), new THREE.LineBasicMaterial({ color: 0x101418 }));
    this.wire.frustumCulled = false;
    this.shown = -1;
  }

  showWire(on) {
    if (on && !this.wire.geometry.index) {
      const { topology } = this;
      topology.edges ??= edges(topology.polygons, topology.points);
      this.wire.geometry.setAttribute('position', this.position);
      this.wire.geometry.setIndex(new THREE.BufferAttribute(topology.edges, 1));
    }
    this.wire.visible = on;
  }

  hasKept() { return Array.isArray(this.data.kept); }

  // The float64 positions of sample `s`, as decoded (tests read these).
  decoded(s) { return decodePositions(this.data.positions[s], this.pointCount); }

  sample(s) {
    let entry = this.samples.get(s);
    if (!entry) {
      const positions = Float32Array.from(this.decoded(s));
      entry = { positions, normals: pointNormals(positions, this.polygons, new Float32Array(positions.length)) };
      this.samples.set(s, entry);
    }
    return entry;
  }

  keptAt(s, scale) {
    let k = this.kept.get(s);
    if (!k) this.kept.set(s, (k = decodeKept(this.data.kept[s], scale, this.pointCount)));
    return k;
  }

  show(s) {
    if (s === this.shown) return;
    const { positions, normals } = this.sample(s);
    this.position.array.set(positions);
    this.normal.array.set(normals);
    this.position.needsUpdate = this.normal.needsUpdate = true;
    this.shown = s;
  }

  // The bounds of sample `s` from its quantisation, without decoding it.
  bounds(s) {
    const { min, step } = this.data.positions[s];
    return new THREE.Box3(new THREE.Vector3(...min),
                          new THREE.Vector3(...min.map((m, i) => m + 65535 * step[i])));
  }

  // Switching vertex colours on or off rebuilds the material's shader: only when it changes.
  useVertexColours(on) {
    if (this.material.vertexColors === on) return;
    this.material.vertexColors = on;
    this.material.needsUpdate = true;
  }

  // The selected mesh of a panel of several is lit a little from within, to tell it apart.
  highlight(on) {
    this.material.emissive.setRGB(on ? 0.06 : 0, on ? 0.09 : 0, on ? 0.16 : 0);
  }

  paintUniform([r, g, b]) {
    this.useVertexColours(false);
    this.material.color.setRGB(kLinear[r], kLinear[g], kLinear[b]);
  }

  // Colours per point from `values` through `stops`.
  paint(values, stops, scaleBy = 1) {
    const rgb = [0, 0, 0], out = this.colour.array;
    for (let i = 0; i < values.length; ++i) {
      scaleColour(stops, values[i] * scaleBy, rgb, 0);
      out[3 * i] = kLinear[rgb[0]]; out[3 * i + 1] = kLinear[rgb[1]]; out[3 * i + 2] = kLinear[rgb[2]];
    }
    this.colour.needsUpdate = true;
    this.useVertexColours(true);
    this.material.color.setRGB(1, 1, 1);
  }
}

export class Viewer {
  constructor(canvas, page) {
    this.page = page;
    this.canvas = canvas;
    this.onDraw = null;   // called after every draw with the panels drawn
    this.pending = false;  // a draw is requested for the next animation frame
    this.wireframe = false;
    const topologies = page.topologies.map((t) => {
      const polygons = decodePolygons(t);
      return { points: t.points, polygons, triangles: triangles(polygons), edges: null };
    });
    this.inputs = page.inputs.map((_, i) => new Input(page, i, topologies[page.inputs[i].topology]));
    // Groups in the order of their first input; an input without a group is one of its own.
    const groupOf = new Map();
    this.groups = [];
    for (const input of this.inputs) {
      const key = input.data.group ?? `own ${input.index}`;
      if (!groupOf.has(key)) { groupOf.set(key, this.groups.length); this.groups.push([]); }
      input.group = groupOf.get(key);
      this.groups[input.group].push(input);
    }
    this.timeline = timeline(this.inputs);
    this.scales = page.scales;
    this.frameIndex = 0;
    this.mode = 'shaded';
    this.layout = 'side';
    this.selected = 0;
    this.reference = Math.min(page.distanceReference ?? 0, this.inputs.length - 1);
    this.distanceMax = null;
    this.up = page.up === 'z' ? 'z' : 'y';

    this.renderer = new THREE.WebGLRenderer({ canvas, antialias: !softwareRenderer(), alpha: true });
    this.renderer.setPixelRatio(window.devicePixelRatio);
    this.renderer.setClearColor(0x000000, 0);
    this.renderer.setScissorTest(true);
    this.scene = new THREE.Scene();
    this.root = new THREE.Group();
    this.scene.add(this.root);
    for (const input of this.inputs) this.root.add(input.mesh, input.wire);
    this.camera = new THREE.PerspectiveCamera(kFieldOfView, 1, 0.01, 100);
    this.scene.add(this.camera);
    // The pictures' light, fixed to the camera: a key from the left just off the picture's plane,
    // a fill from the right, a little ambient.
    const key = new THREE.DirectionalLight(0xffffff, 2.9);
    key.position.set(-0.92, 0.25, 0.30);
    const fill = new THREE.DirectionalLight(0xffffff, 0.8);
    fill.position.set(0.75, -0.15, 0.55);
    for (const light of [key, fill]) { this.camera.add(light); this.camera.add(light.target); }
    this.scene.add(new THREE.AmbientLight(0xffffff, 0.35));
    this.controls = new OrbitControls(this.camera, canvas);
    this.controls.addEventListener('change', () => this.requestDraw());
    this.setUp(this.up);
    this.setMode('shaded');
    this.setFrame(0);
    this.frameAll(page.focus);
  }

  // The panels to draw: every group side by side, or the selected input's group alone when
  // overlaid. A panel's `input` is its selected input, else its first.
  panels() {
    const selected = this.inputs[this.selected];
    const shown = this.layout === 'side' ? this.groups : [this.groups[selected.group]];
    const width = this.canvas.clientWidth, height = this.canvas.clientHeight;
    const w = width / shown.length;
    return shown.map((inputs, k) => ({
      inputs, input: inputs.includes(selected) ? selected : inputs[0],
      x: Math.round(k * w), y: 0, width: Math.round((k + 1) * w) - Math.round(k * w), height,
    }));
  }

  // The input drawn under the point (x, y) of the canvas (CSS pixels), or null.
  pick(x, y) {
    const panel = this.panels().find((p) => x >= p.x && x < p.x + p.width);
    if (!panel) return null;
    this.camera.aspect = panel.width / panel.height;
    this.camera.updateProjectionMatrix();
    this.camera.updateMatrixWorld();
    const ray = new THREE.Raycaster();
    ray.setFromCamera(new THREE.Vector2(((x - panel.x) / panel.width) * 2 - 1,
                                        1 - ((y - panel.y) / panel.height) * 2), this.camera);
    for (const input of panel.inputs) input.mesh.geometry.computeBoundingSphere();
    const hits = ray.intersectObjects(panel.inputs.map((i) => i.mesh), false);
    const hit = hits.length ? panel.inputs.find((i) => i.mesh === hits[0].object) : null;
    return hit ?? panel.input;
  }

  setFrame(index) {
    this.frameIndex = Math.max(0, Math.min(index, this.timeline.length - 1));
    const f = this.timeline[this.frameIndex];
    for (const input of this.inputs) input.show(sampleAt(input.frames, f));
    this.paint();
    this.requestDraw();
  }

  frameNumber() { return this.timeline[this.frameIndex]; }

  setMode(mode) {
    this.mode = mode;
    if (mode === 'distance' && this.distanceMax === null) this.distanceMax = this.largestDistance();
    this.paint();
    this.requestDraw();
  }

  setReference(index) {
    this.reference = index;
    this.distanceMax = null;
    if (this.mode === 'distance') this.setMode('distance');
  }

  // The input each one is compared with in the distance mode: the reference, and the reference
  // with the next input of its point count; null where none has its point count.
  partner(input) {
    const ref = this.inputs[this.reference];
    const same = this.inputs.filter((i) => i.pointCount === input.pointCount && i !== input);
    if (input === ref) return same.find((i) => i.index > ref.index) ?? same[0] ?? null;
    return input.pointCount === ref.pointCount ? ref : null;
  }

  distancesAt(input, f) {
    const other = this.partner(input);
    if (!other) return null;
    const a = input.sample(sampleAt(input.frames, f)).positions;
    const b = other.sample(sampleAt(other.frames, f)).positions;
    return distances(a, b, new Float32Array(input.pointCount));
  }

  // The scale of the distance mode: the largest distance over every frame and input.
  largestDistance() {
    let max = 0;
    for (const f of this.timeline)
      for (const input of this.inputs) {
        const d = this.distancesAt(input, f);
        if (d) for (const v of d) if (v > max) max = v;
      }
    return max;
  }

  paint() {
    const f = this.timeline[this.frameIndex];
    for (const input of this.inputs) {
      const s = sampleAt(input.frames, f);
      if (this.mode === 'kept' && input.hasKept()) {
        input.paint(input.keptAt(s, this.scales.kept), this.scales.kept.stops);
      } else if (this.mode === 'distance' && this.distancesAt(input, f)) {
        const max = this.distanceMax > 0 ? this.distanceMax : 1;
        input.paint(this.distancesAt(input, f), this.scales.distance.stops, 1 / max);
      } else if (this.mode === 'weights' && input.weights) {
        input.paint(input.weights, this.scales.weights.stops);
      } else {
        input.paintUniform(this.mode === 'shaded' ? kSurface : kNoData);
      }
    }
  }

  setWireframe(on) {
    this.wireframe = on;
    this.requestDraw();
  }

  setUp(up) {
    this.up = up;
    // Z up: turn the data's +Z onto the screen's up (+Y), its +Y away from the viewer.
    this.root.rotation.x = up === 'z' ? -Math.PI / 2 : 0;
    this.root.updateMatrixWorld(true);
    this.frameAll();
  }

  setLayout(layout) {
    this.layout = layout;
    this.requestDraw();
  }

  select(index) {
    if (index < 0 || index >= this.inputs.length) return;
    this.selected = index;
    for (const input of this.inputs)
      input.highlight(input.index === index && this.groups[input.group].length > 1);
    this.requestDraw();
  }

  // Bounds in the view's space (after the up axis) over every frame of the given inputs.
  viewBounds(inputs) {
    const box = new THREE.Box3();
    for (const input of inputs)
      for (let s = 0; s < input.frames.length; ++s) box.union(input.bounds(s));
    return box.applyMatrix4(this.root.matrixWorld);
  }

  // Frames the camera on a box (data coordinates, e.g. the page's focus), or on every input.
  frameAll(focus) {
    const box = focus
      ? new THREE.Box3(new THREE.Vector3(...focus.min), new THREE.Vector3(...focus.max)).applyMatrix4(this.root.matrixWorld)
      : this.viewBounds(this.inputs);
    this.frameBox(box);
  }

  frameSelection() { this.frameBox(this.viewBounds([this.inputs[this.selected]])); }

  frameBox(box) {
    const sphere = box.getBoundingSphere(new THREE.Sphere());
    const radius = sphere.radius > 0 ? sphere.radius : 1;
    const panel = this.panels()[0];
    const aspect = panel.width / Math.max(panel.height, 1);
    const half = (kFieldOfView * Math.PI) / 360;
    const fit = Math.min(Math.tan(half), Math.tan(half) * aspect);
    const distance = (1.1 * radius) / Math.sin(Math.atan(fit));
    const direction = this.page.view
      ? new THREE.Vector3(...this.page.view).transformDirection(this.root.matrixWorld)
      : new THREE.Vector3(Math.sin(kAzimuth) * Math.cos(kElevation), Math.sin(kElevation),
                          Math.cos(kAzimuth) * Math.cos(kElevation));
    this.camera.position.copy(sphere.center).addScaledVector(direction, distance);
    this.camera.near = distance / 100;
    this.camera.far = distance * 100;
    this.controls.target.copy(sphere.center);
    this.controls.update();
    this.requestDraw();
  }

  requestDraw() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => { this.pending = false; this.draw(); });
  }

  resize() {
    this.renderer.setSize(this.canvas.clientWidth, this.canvas.clientHeight, false);
    this.requestDraw();
  }

  draw() {
    const size = this.renderer.getSize(new THREE.Vector2());
    if (size.x !== this.canvas.clientWidth || size.y !== this.canvas.clientHeight)
      this.renderer.setSize(this.canvas.clientWidth, this.canvas.clientHeight, false);
    this.renderer.setScissor(0, 0, this.canvas.clientWidth, this.canvas.clientHeight);
    this.renderer.clear();
    const panels = this.panels();
    for (const panel of panels) {
      for (const input of this.inputs) input.mesh.visible = panel.inputs.includes(input);
      for (const input of this.inputs) input.showWire(this.wireframe && panel.inputs.includes(input));
      this.camera.aspect = panel.width / panel.height;
      this.camera.updateProjectionMatrix();
      // WebGL counts rows from the bottom.
      const y = this.canvas.clientHeight - panel.y - panel.height;
      this.renderer.setViewport(panel.x, y, panel.width, panel.height);
      this.renderer.setScissor(panel.x, y, panel.width, panel.height);
      this.renderer.render(this.scene, this.camera);
    }
    if (this.onDraw) this.onDraw(panels);
  }

  // Each panel's meshes projected: the pixel box (CSS pixels, from the canvas's top left) that
  // their points of the frame shown cover.
  projectedBounds() {
    const v = new THREE.Vector3();
    return this.panels().map((panel) => {
      this.camera.aspect = panel.width / panel.height;
      this.camera.updateProjectionMatrix();
      this.camera.updateMatrixWorld();
      let x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
      for (const input of panel.inputs) {
        const p = input.position.array;
        for (let i = 0; i < p.length; i += 3) {
          v.set(p[i], p[i + 1], p[i + 2]).applyMatrix4(this.root.matrixWorld).project(this.camera);
          const x = panel.x + ((v.x + 1) / 2) * panel.width, y = panel.y + ((1 - v.y) / 2) * panel.height;
          x0 = Math.min(x0, x); x1 = Math.max(x1, x); y0 = Math.min(y0, y); y1 = Math.max(y1, y);
        }
      }
      return { input: panel.input.index, inputs: panel.inputs.map((i) => i.index),
               panel: { x: panel.x, y: panel.y, width: panel.width, height: panel.height },
               x: x0, y: y0, width: x1 - x0, height: y1 - y0 };
    });
  }

  // Draws and reads the canvas back: RGBA rows from the top.
  pixels() {
    this.draw();
    const gl = this.renderer.getContext();
    const width = gl.drawingBufferWidth, height = gl.drawingBufferHeight;
    const raw = new Uint8Array(4 * width * height);
    gl.readPixels(0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, raw);
    const rows = new Uint8Array(raw.length);
    for (let y = 0; y < height; ++y)
      rows.set(raw.subarray(4 * width * (height - 1 - y), 4 * width * (height - y)), 4 * width * y);
    return { width, height, rows };
  }
}
