// The peer simplifier of quadric_bench: meshoptimizer's WebAssembly build,
// run by node on a mesh that quadric_bench writes, the kept triangles written back.
//
//   node simplify.mjs <mesh file> <index file> [--weight W] [--flags A,B]
//
// Mesh file, little-endian: "KQBP", then uint32 version (1), vertex count,
// index count, floats of attributes per vertex and target index count; then
// float32 positions (3 a vertex), float32 attributes, uint32 indices.
// Index file: the kept triangles' uint32 indices, nothing else.
//
// Attributes are further positions of the same vertices (other frames of an
// animation): they are put into the simplifier's own units the way it puts
// positions there (less the smallest coordinate, over getScale), so that a
// weight of 1 weighs a move in another frame as one in the first.

import { readFileSync, writeFileSync } from 'node:fs';
import { MeshoptSimplifier } from 'meshoptimizer';

function fail(message) {
	process.stderr.write(`simplify.mjs: ${message}\n`);
	process.exit(1);
}

function parseArguments(argv) {
	const options = { weight: 1, flags: [] };
	const files = [];
	for (let i = 0; i < argv.length; ++i) {
		if (argv[i] === '--weight') options.weight = Number(argv[++i]);
		else if (argv[i] === '--flags') options.flags = argv[++i].split(',').filter((flag) => flag !== '');
		else files.push(argv[i]);
	}
	if (files.length !== 2 || !(options.weight >= 0)) fail('usage: simplify.mjs <mesh file> <index file> [--weight W] [--flags A,B]');
	return { input: files[0], output: files[1], ...options };
}

function readMesh(path) {
	const bytes = readFileSync(path);
	const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
	if (bytes.byteLength < 24 || bytes.toString('latin1', 0, 4) !== 'KQBP' || view.getUint32(4, true) !== 1) fail(`${path}: not a version 1 mesh file`);
	const [vertexCount, indexCount, attributeCount, targetIndexCount] = [8, 12, 16, 20].map((at) => view.getUint32(at, true));
	const expected = 24 + 4 * (vertexCount * (3 + attributeCount) + indexCount);
	if (bytes.byteLength !== expected) fail(`${path}: ${bytes.byteLength} bytes, ${expected} expected`);
	// Copied out of the file's buffer: typed arrays want aligned offsets.
	const floats = (at, count) => new Float32Array(bytes.buffer.slice(bytes.byteOffset + at, bytes.byteOffset + at + 4 * count));
	const positions = floats(24, 3 * vertexCount);
	const attributes = floats(24 + 12 * vertexCount, attributeCount * vertexCount);
	const indexAt = 24 + 4 * (3 + attributeCount) * vertexCount;
	const indices = new Uint32Array(bytes.buffer.slice(bytes.byteOffset + indexAt, bytes.byteOffset + indexAt + 4 * indexCount));
	for (const index of indices) if (index >= vertexCount) fail(`${path}: index ${index} past ${vertexCount} vertices`);
	return { vertexCount, attributeCount, targetIndexCount, positions, attributes, indices };
}

// Moves each attribute coordinate into the units the simplifier gives
// positions: attributes come in threes, x y z, like the positions.
function toSimplifierUnits(mesh) {
	const low = [Infinity, Infinity, Infinity];
	for (let i = 0; i < mesh.positions.length; ++i) low[i % 3] = Math.min(low[i % 3], mesh.positions[i]);
	const scale = MeshoptSimplifier.getScale(mesh.positions, 3) || 1;
	for (let i = 0; i < mesh.attributes.length; ++i) mesh.attributes[i] = (mesh.attributes[i] - low[(i % mesh.attributeCount) % 3]) / scale;
}

const options = parseArguments(process.argv.slice(2));
await MeshoptSimplifier.ready;
const mesh = readMesh(options.input);
if (mesh.attributeCount % 3 !== 0 || mesh.attributeCount > 30) fail('attributes must be up to ten positions');
// No error limit: the target count alone decides where it stops.
const noErrorLimit = 1e30;
let kept;
if (mesh.attributeCount === 0) {
	[kept] = MeshoptSimplifier.simplify(mesh.indices, mesh.positions, 3, mesh.targetIndexCount, noErrorLimit, options.flags);
} else {
	toSimplifierUnits(mesh);
	const weights = new Array(mesh.attributeCount).fill(options.weight);
	[kept] = MeshoptSimplifier.simplifyWithAttributes(
		mesh.indices, mesh.positions, 3, mesh.attributes, mesh.attributeCount, weights, null, mesh.targetIndexCount, noErrorLimit, options.flags);
}
writeFileSync(options.output, new Uint8Array(kept.buffer, kept.byteOffset, kept.byteLength));
