// The core under node, run as the page runs it (web/site/reduction.js): for
// generated models and the shared ones, the bytes it saves for a budget, a
// chain of levels of detail and written passes are kelvane-cli's, and so are
// the deviation figures and a refused file's ERROR: lines.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { cli, loadCore, makeModels, scratch, sharedModel, site, skipWithoutSite } from './support.mjs';

skipWithoutSite();
const { runPlan } = await import(path.join(site, 'reduction.js'));
const k = await loadCore();
const dir = scratch();
makeModels(dir);
const models = ['walker', 'tube', 'parts', 'random3', 'random17', 'random40'].map((name) => path.join(dir, `${name}.mdl`));
for (const name of ['minigun.mdl', 'earth.mdl']) {
    const file = sharedModel(name);
    if (file) models.push(file); else console.log(`${name} not in the shared models: not compared`);
}

// kelvane-cli info --json for one file, refused or not.
function info(file) {
    const run = spawnSync(process.env.KELVANE_CLI, ['info', '--json', file], { encoding: 'utf8' });
    return JSON.parse(run.stdout).files[0];
}

function sameBytes(actual, expectedFile, what) {
    assert.ok(Buffer.from(actual).equals(fs.readFileSync(expectedFile)), `${what}: the page's bytes differ from ${expectedFile}`);
}

test('a budget gives the tool\'s bytes and report, over its frames or every frame', () => {
    for (const file of models) {
        const budget = Math.max(1, Math.floor(info(file).details.triangles * 0.4));
        const out = path.join(dir, 'budget.mdl');
        const printed = cli('reduce', '--target-tris', String(budget), file, '-o', out).trim().split('\n');
        const [output] = runPlan(k, fs.readFileSync(file), { kind: 'budget', triangles: budget });
        sameBytes(output.bytes, out, `${file} to ${budget} triangles`);
        assert.equal(output.deviation.line, printed.at(-1), `${file}: the DEVIATION line over the report's frames`);
        // --measure: every frame, as the page measures them when asked.
        const report = JSON.parse(cli('reduce', '--json', '--measure', '--target-tris', String(budget), file, '-o', out)).files[0];
        const told = [];
        const [every] = runPlan(k, fs.readFileSync(file), { kind: 'budget', triangles: budget, everyFrame: true }, (share, text) => told.push([share, text]));
        assert.equal(every.met, report.budget.met, file);
        // The progress is the core's own figure, rising through the measure frame by frame.
        const measuring = told.filter(([, text]) => text.startsWith('measuring: '));
        assert.equal(measuring.length, info(file).details.frames.length, `${file}: a step per frame measured`);
        assert.ok(told.every(([share], i) => i === 0 || share >= told[i - 1][0]) && told.at(-1)[0] > 0.999, `${file}: the share only rises, to 1`);
        // The last bit may differ: std::hypot of emscripten's C library is not glibc's.
        for (const key of ['hausdorff', 'rms', 'meanRms'])
            assert.ok(Math.abs(every.deviation[key] - report.deviation[key]) <= 1e-12 * report.deviation[key], `${file}: ${key}`);
        assert.deepEqual([every.deviation.hausdorffFrame, every.deviation.rmsFrame], [report.deviation.hausdorffFrame, report.deviation.rmsFrame], file);
        assert.equal(every.deviation.frames.length, info(file).details.frames.length, `${file}: one figure per frame`);
    }
});

test('a chain of levels of detail gives the tool\'s files', () => {
    const shares = [0.5, 0.25, 0.1];
    for (const file of models) {
        const out = scratch();
        cli('reduce', '--quiet', '--lods', shares.join(','), file, '--out-dir', out);
        const outputs = runPlan(k, fs.readFileSync(file), { kind: 'lods', shares });
        assert.equal(outputs.length, shares.length);
        outputs.forEach((output, i) => sameBytes(output.bytes, path.join(out, `${path.basename(file, '.mdl')}_lod${i + 1}.mdl`), `${file} level ${i + 1}`));
    }
});

test('written passes give the tool\'s bytes and lines', () => {
    for (const file of models) {
        for (const [level, passes] of [[0, 1], [4, 2], [10, 3]]) {
            const out = path.join(dir, 'passes.mdl');
            const lines = cli('reduce', '--level', String(level), '--passes', String(passes), file, '-o', out).trim().split('\n');
            const [output] = runPlan(k, fs.readFileSync(file), { kind: 'passes', level, passes });
            sameBytes(output.bytes, out, `${file} at level ${level}, ${passes} passes`);
            assert.deepEqual(output.lines, lines.slice(1), `${file}: the passes' CUT: and MODEL INFO: lines`);
        }
    }
});

test('the summary and a refusal\'s ERROR: lines are the tool\'s', () => {
    for (const file of [...models, path.join(dir, 'damaged.mdl')]) {
        const expected = info(file);
        const model = new k.Model();
        try {
            assert.equal(model.load(fs.readFileSync(file)), expected.status === 'accepted', file);
            assert.deepEqual(model.lines(), expected.lines, `${file}: the container's lines`);
            if (!expected.details) continue;
            const summary = model.summary();
            for (const key of ['vertices', 'triangles', 'frames']) assert.deepEqual(summary[key], expected.details[key], `${file}: ${key}`);
            assert.equal(summary.skinVertices, expected.details.textureCoordinates, `${file}: texture coordinates`);
            assert.deepEqual(summary.skins, expected.details.skins.map(({ width, height }, i) => ({ type: expected.details.formatDetails.skinRecords[i].type, width, height })),
                `${file}: skins`);
        } finally {
            model.delete();
        }
    }
    assert.ok(info(path.join(dir, 'damaged.mdl')).errors.length > 0, 'the damaged file is refused with ERROR: lines');
});

// Quake MDL, MD2 and MD3: the same steps run natively (web_models --reduce)
// give the page's bytes, and so does kelvane-cli once it reduces these formats.
test('other formats: summary, budget and chain of levels as natively; no written passes', () => {
    const formats = { 'tekmechbot.mdl': 'Quake MDL', 'faerie.md2': 'MD2', 'penguin_head.md3': 'MD3', 'penguin_lower.md3': 'MD3', 'penguin_upper.md3': 'MD3' };
    for (const [name, format] of Object.entries(formats).filter(([name]) => sharedModel(name))) {
        const [file, model] = [sharedModel(name), new k.Model()];
        const bytes = fs.readFileSync(file);
        const [accepted, summary, lines] = [model.load(bytes), model.summary(), model.lines(), model.delete()];
        assert.deepEqual([accepted, summary.format, summary.writtenPasses, summary.frames.length > 0], [true, format, false, true], name);
        assert.match(lines.at(-1), new RegExp(`^MODEL INFO: ${summary.vertices}Vertices, ${summary.triangles}Faces, `), name);

        const shares = [0.4, 0.15];
        const budgets = shares.map((share) => String(Math.floor(share * summary.triangles)));
        const native = path.join(dir, 'native');
        assert.equal(spawnSync(process.env.KELVANE_WEB_MODELS, ['--reduce', file, native, ...budgets]).status, 0, name);
        const [output] = runPlan(k, bytes, { kind: 'budget', triangles: Number(budgets[0]) });
        sameBytes(output.bytes, `${native}.1`, `${name} to ${budgets[0]} triangles`);
        assert.equal(output.deviation.frames.length, Math.min(16, summary.frames.length), `${name}: the report's frames`);
        runPlan(k, bytes, { kind: 'lods', shares }).forEach((level, i) => sameBytes(level.bytes, `${native}.${i + 1}`, `${name} level ${i + 1}`));
        assert.throws(() => runPlan(k, bytes, { kind: 'passes', level: 0, passes: 1 }), /MDL5 models only/, name);

        const byTool = path.join(dir, `tool-${name}`);
        if (spawnSync(process.env.KELVANE_CLI, ['reduce', '--quiet', '--target-tris', budgets[0], file, '-o', byTool]).status === 0)
            sameBytes(output.bytes, byTool, `${name}: kelvane-cli`);
        else console.log(`kelvane-cli does not reduce ${name} yet: compared with the native steps`);
    }
});
