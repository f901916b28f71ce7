// The page: the list of opened files, the before-and-after view, the
// reduction settings and the results. The core runs in two workers: one
// draws and looks at new files, one reduces and measures, so the page never
// waits for either.
import { CoreWorker } from './workers.js';
import { deviationPlot } from './plot.js';
import { zipSync } from './vendor/fflate.js';

const $ = (id) => document.getElementById(id);
const ui = {
    files: $('files'), list: $('list'), downloadAll: $('download-all'),
    before: $('before'), after: $('after'), beforeCaption: $('before-caption'), afterCaption: $('after-caption'),
    emptyView: $('empty-view'), frame: $('frame'), frameName: $('frame-name'), play: $('play'),
    wire: $('wire'), skin: $('skin'), resetView: $('reset-view'), methodPasses: $('method-passes'), passesNote: $('passes-note'),
    target: $('target'), targetSlider: $('target-slider'), share: $('share'), lods: $('lods'),
    level: $('level'), passes: $('passes'), everyFrame: $('every-frame'), run: $('run'), cancel: $('cancel'),
    progress: $('progress'), status: $('status'), result: $('result'), outputs: $('outputs'),
    details: $('details'), refusal: $('refusal'), overlay: $('drop-overlay'),
};

const kDefaultCamera = { yaw: 35, pitch: 20, zoom: 1 };
// Each entry: a file as opened, what the core said of it, and its last reduction.
const entries = [];
let selected = null;
let running = null;  // the entry being reduced
const camera = { ...kDefaultCamera };

const drawing = new CoreWorker();
const reducing = new CoreWorker(({ share, text }) => {
    ui.progress.value = share;
    ui.status.textContent = `${running?.name ?? ''}: ${text}`;
});

// What the core opens, said where the page names it (the HTML says it too,
// for the first paint).
drawing.request('formats').then(({ name, extensions }) => {
    for (const span of document.querySelectorAll('.formats')) span.textContent = name;
    ui.files.accept = extensions;
});

// ---- opening files ----

function counts(c) {
    return `${c.vertices} vertices, ${c.triangles} triangles, ${c.skinVertices} skin vertices`;
}

async function open(files) {
    for (const file of files) {
        const entry = { id: crypto.randomUUID(), name: file.name, status: 'reading', lines: [], summary: null, reduction: null };
        entries.push(entry);
        renderList();
        try {
            entry.bytes = await file.arrayBuffer();
            entry.status = 'checking';
            renderList();
            const answer = await drawing.request('inspect', { bytes: entry.bytes });
            entry.lines = answer.lines;
            entry.status = answer.accepted ? 'accepted' : 'refused';
            if (answer.accepted) entry.summary = answer.summary;
        } catch (error) {
            entry.status = 'refused';
            entry.lines = [`ERROR:${error.message}`];
        }
        renderList();
        if (!selected || selected.status !== 'accepted') select(entry);
    }
}

function renderList() {
    ui.list.replaceChildren(...entries.map((entry) => {
        const item = document.createElement('li');
        item.className = `entry ${entry.status}${entry === selected ? ' selected' : ''}`;
        const button = document.createElement('button');
        button.type = 'button';
        button.setAttribute('aria-current', entry === selected ? 'true' : 'false');
        const name = document.createElement('strong');
        name.textContent = entry.name;
        const facts = document.createElement('span');
        facts.className = 'facts';
        if (entry.summary) {
            const s = entry.summary;
            // Only MDL5 skins have a type; MD2 and MD3 files name their skins but hold none.
            const skins = s.skins.length
                ? s.skins.map((skin) => `${skin.width}x${skin.height}${skin.type >= 0 ? ` type ${skin.type}` : ''}`).join(', ')
                : 'none in the file';
            facts.textContent = `${s.format}: ${counts(s)}; ${s.frames.length} frames; skins: ${skins}`;
        }
        const status = document.createElement('span');
        status.className = 'badge';
        status.textContent = entry === running ? 'reducing' : entry.reduction ? 'reduced' : entry.status;
        button.append(name, status, facts);
        button.addEventListener('click', () => select(entry));
        item.append(button);
        if (entry.status === 'refused') {
            const errors = document.createElement('pre');
            errors.className = 'errors';
            errors.textContent = entry.lines.filter((line) => line.startsWith('ERROR:')).join('\n') || entry.lines.join('\n');
            item.append(errors);
        }
        return item;
    }));
    ui.downloadAll.disabled = !entries.some((entry) => entry.reduction?.outputs.length);
}

// ---- the view ----

function select(entry) {
    selected = entry;
    renderList();
    const accepted = entry.status === 'accepted';
    ui.details.hidden = accepted || entry.status !== 'refused';
    ui.refusal.textContent = entry.lines.join('\n');
    ui.emptyView.hidden = accepted;
    ui.run.disabled = !accepted || running !== null;
    if (!accepted) {
        ui.result.hidden = true;
        clearCanvas(ui.before);
        clearCanvas(ui.after);
        return;
    }
    const s = entry.summary;
    ui.frame.max = String(Math.max(0, s.frames.length - 1));
    ui.frame.value = String(Math.min(Number(ui.frame.value), s.frames.length - 1));
    ui.targetSlider.max = String(Math.max(1, s.triangles));
    ui.target.max = String(Math.max(1, s.triangles));
    setShare(Number(ui.share.value) || 50);
    ui.beforeCaption.textContent = `As opened: ${counts(s)}`;
    ui.skin.disabled = !s.skins.length;  // drawn untextured either way
    showPassesFor(s);
    showResult(entry);
}

// Sends the models on show to the drawing worker, then draws.
async function showModels(entry) {
    const output = entry.reduction?.outputs[entry.reduction.shown];
    await drawing.request('show', { before: entry.bytes, after: output ? output.bytes : null });
    if (selected === entry) draw();
}

let drawInFlight = false;
let drawAgain = false;

function canvasSize(canvas) {
    const ratio = Math.min(window.devicePixelRatio || 1, 2);
    const scale = Math.min(ratio, 1024 / Math.max(1, canvas.clientWidth));
    return { width: Math.max(16, Math.round(canvas.clientWidth * scale)), height: Math.max(12, Math.round(canvas.clientHeight * scale)) };
}

// One drawing at a time; the newest settings win whatever came between.
async function draw() {
    if (!selected || selected.status !== 'accepted') return;
    if (drawInFlight) {
        drawAgain = true;
        return;
    }
    drawInFlight = true;
    const frame = Number(ui.frame.value);
    ui.frameName.textContent = `${frame} ${selected.summary.frames[frame] ?? ''}`;
    const { width, height } = canvasSize(ui.before);
    const options = { width, height, frame, yaw: camera.yaw, pitch: camera.pitch, zoom: camera.zoom,
        wire: ui.wire.checked, textured: ui.skin.checked };
    try {
        const { before, after } = await drawing.request('render', { options });
        paint(ui.before, before);
        if (after) paint(ui.after, after); else clearCanvas(ui.after);
    } catch (error) {
        if (!error.cancelled) ui.status.textContent = `Drawing failed: ${error.message}`;
    } finally {
        drawInFlight = false;
        if (drawAgain) {
            drawAgain = false;
            draw();
        }
    }
}

function paint(canvas, image) {
    if (!image || image.width === 0) return;
    canvas.width = image.width;
    canvas.height = image.height;
    canvas.getContext('2d').putImageData(new ImageData(image.pixels, image.width, image.height), 0, 0);
}

function clearCanvas(canvas) {
    const context = canvas.getContext('2d');
    context.clearRect(0, 0, canvas.width, canvas.height);
}

function showFrame(frame) {
    ui.frame.value = String(frame);
    draw();
}

// Drag to turn, wheel to zoom, on either picture: one camera for both.
for (const canvas of [ui.before, ui.after]) {
    let last = null;
    canvas.addEventListener('pointerdown', (event) => {
        last = { x: event.clientX, y: event.clientY };
        canvas.setPointerCapture(event.pointerId);
    });
    canvas.addEventListener('pointermove', (event) => {
        if (!last) return;
        camera.yaw -= (event.clientX - last.x) * 0.5;
        camera.pitch = Math.max(-89, Math.min(89, camera.pitch + (event.clientY - last.y) * 0.5));
        last = { x: event.clientX, y: event.clientY };
        draw();
    });
    canvas.addEventListener('pointerup', () => { last = null; });
    canvas.addEventListener('pointercancel', () => { last = null; });
    canvas.addEventListener('wheel', (event) => {
        event.preventDefault();
        camera.zoom = Math.max(0.1, Math.min(20, camera.zoom * Math.pow(1.1, -event.deltaY / 100)));
        draw();
    }, { passive: false });
    canvas.addEventListener('keydown', (event) => {
        const moves = { ArrowLeft: ['yaw', 5], ArrowRight: ['yaw', -5], ArrowUp: ['pitch', 5], ArrowDown: ['pitch', -5] };
        if (moves[event.key]) {
            const [axis, step] = moves[event.key];
            camera[axis] = axis === 'pitch' ? Math.max(-89, Math.min(89, camera[axis] + step)) : camera[axis] + step;
        } else if (event.key === '+' || event.key === '=') {
            camera.zoom = Math.min(20, camera.zoom * 1.1);
        } else if (event.key === '-') {
            camera.zoom = Math.max(0.1, camera.zoom / 1.1);
        } else {
            return;
        }
        event.preventDefault();
        draw();
    });
}

ui.frame.addEventListener('input', draw);
ui.wire.addEventListener('change', draw);
ui.skin.addEventListener('change', draw);
ui.resetView.addEventListener('click', () => {
    Object.assign(camera, kDefaultCamera);
    draw();
});
let player = null;
ui.play.addEventListener('click', () => {
    const playing = player === null;
    ui.play.setAttribute('aria-pressed', String(playing));
    ui.play.textContent = playing ? 'Pause' : 'Play';
    if (!playing) {
        clearInterval(player);
        player = null;
        return;
    }
    player = setInterval(() => {
        const frames = Number(ui.frame.max) + 1;
        showFrame((Number(ui.frame.value) + 1) % frames);
    }, 100);
});
new ResizeObserver(() => draw()).observe(ui.before);

// ---- the target ----

function triangles() {
    return selected?.summary?.triangles ?? 0;
}

// A share is the whole number of triangles below it, as kelvane-cli --ratio rounds.
function setShare(percent) {
    ui.share.value = String(percent);
    setTarget(Math.max(1, Math.floor((percent / 100) * triangles())), false);
}

function setTarget(value, updateShare = true) {
    const target = Math.max(1, Math.min(Math.round(value) || 1, Math.max(1, triangles())));
    ui.target.value = String(target);
    ui.targetSlider.value = String(target);
    if (updateShare && triangles() > 0) ui.share.value = String(Number(((100 * target) / triangles()).toFixed(2)));
}

ui.targetSlider.addEventListener('input', () => setTarget(Number(ui.targetSlider.value)));
ui.target.addEventListener('change', () => setTarget(Number(ui.target.value)));
ui.share.addEventListener('change', () => setShare(Math.max(0.01, Math.min(100, Number(ui.share.value) || 50))));
for (const radio of document.querySelectorAll('input[name=method]')) {
    radio.addEventListener('change', () => {
        for (const panel of document.querySelectorAll('.method')) panel.hidden = panel.dataset.method !== radio.value;
    });
}

// The written pass is MDL5's own: for other formats its choice is off, and says why.
function showPassesFor(summary) {
    ui.methodPasses.disabled = !summary.writtenPasses;
    ui.passesNote.hidden = summary.writtenPasses;
    ui.passesNote.textContent = `Written passes work on MDL5 models only (this model is ${summary.format}).`;
    if (!summary.writtenPasses && ui.methodPasses.checked) {
        const budget = document.querySelector('input[name=method][value=budget]');
        budget.checked = true;
        budget.dispatchEvent(new Event('change'));
    }
}

// ---- reducing ----

// The settings as one plan, or a message saying what is wrong with them.
function plan() {
    const method = document.querySelector('input[name=method]:checked').value;
    const everyFrame = ui.everyFrame.checked;
    if (method === 'budget') return { kind: 'budget', triangles: Number(ui.target.value), everyFrame };
    if (method === 'passes') {
        const level = Number(ui.level.value);
        const passes = Number(ui.passes.value);
        if (!Number.isInteger(level) || level < 0 || level > 10) return 'The level is a whole number from 0 to 10.';
        if (!Number.isInteger(passes) || passes < 1) return 'Passes is a whole number, at least 1.';
        return { kind: 'passes', level, passes, everyFrame };
    }
    const shares = ui.lods.value.split(',').map((text) => text.trim()).filter(Boolean).map(Number);
    if (!shares.length || shares.some((share) => !(share > 0 && share <= 1))) return 'Each share lies above 0 and at most 1, as 0.5, 0.25, 0.1.';
    if (shares.some((share, i) => i > 0 && share >= shares[i - 1])) return 'Each share must be below the one before.';
    return { kind: 'lods', shares, everyFrame };
}

function outputName(entry, kind, n) {
    const dot = entry.name.lastIndexOf('.');
    const stem = dot > 0 ? entry.name.slice(0, dot) : entry.name;
    const extension = dot > 0 ? entry.name.slice(dot) : '.mdl';
    return kind === 'lods' ? `${stem}_lod${n}${extension}` : `${stem}_reduced${extension}`;
}

ui.run.addEventListener('click', async () => {
    const entry = selected;
    const settings = plan();
    if (typeof settings === 'string') {
        ui.status.textContent = settings;
        return;
    }
    running = entry;
    ui.run.disabled = true;
    ui.cancel.disabled = false;
    ui.progress.hidden = false;
    ui.progress.value = 0;
    ui.status.textContent = `${entry.name}: starting`;
    renderList();
    const started = performance.now();
    try {
        const { outputs, memoryBytes } = await reducing.request('reduce', { bytes: entry.bytes, plan: settings });
        outputs.forEach((output, i) => { output.name = outputName(entry, settings.kind, i + 1); });
        entry.reduction = { plan: settings, outputs, shown: outputs.length - 1, seconds: (performance.now() - started) / 1000 };
        ui.status.textContent = `${entry.name}: reduced in ${entry.reduction.seconds.toFixed(3)} s; ` +
            `the core's memory is ${Math.round(memoryBytes / 2 ** 20)} MB of at most 4,096 MB.`;
    } catch (error) {
        ui.status.textContent = error.cancelled
            ? `${entry.name}: cancelled; the model is unchanged.`
            : `${entry.name}: the reduction failed (${error.message}); the model is unchanged.`;
    } finally {
        running = null;
        ui.cancel.disabled = true;
        ui.progress.hidden = true;
        ui.run.disabled = selected?.status !== 'accepted';
        renderList();
        if (selected === entry) showResult(entry);
    }
});

ui.cancel.addEventListener('click', () => reducing.restart());

function showResult(entry) {
    const reduction = entry.reduction;
    ui.result.hidden = !reduction;
    ui.afterCaption.textContent = 'Reduced: nothing yet';
    if (reduction) {
        ui.outputs.replaceChildren(...reduction.outputs.map((output, i) => outputBlock(entry, output, i)));
        const shown = reduction.outputs[reduction.shown];
        ui.afterCaption.textContent = `${shown.name}: ${counts(shown.counts)}`;
    }
    showModels(entry);
}

function outputBlock(entry, output, index) {
    const block = document.createElement('article');
    block.className = `output${index === entry.reduction.shown ? ' shown' : ''}`;
    const title = document.createElement('h3');
    title.textContent = output.name;
    const facts = document.createElement('p');
    const budget = output.budget === null ? ''
        : output.met ? `; within the budget of ${output.budget}` : `; over the budget of ${output.budget}: ${output.stoppedBecause}`;
    facts.textContent = `${counts(entry.summary)} → ${counts(output.counts)}${budget}.`;
    const line = document.createElement('p');
    line.className = 'deviation';
    line.textContent = output.deviation ? output.deviation.line : 'DEVIATION: not measured';
    const actions = document.createElement('div');
    actions.className = 'inline';
    if (entry.reduction.outputs.length > 1) {
        const show = document.createElement('button');
        show.type = 'button';
        show.textContent = 'Show';
        show.disabled = index === entry.reduction.shown;
        show.addEventListener('click', () => {
            entry.reduction.shown = index;
            showResult(entry);
        });
        actions.append(show);
    }
    const download = document.createElement('button');
    download.type = 'button';
    download.className = 'download';
    download.textContent = `Download ${output.name}`;
    download.addEventListener('click', () => save(new Blob([output.bytes]), output.name));
    actions.append(download);
    // The container's lines of this output, as kelvane-cli prints them (CUT: and MODEL INFO:).
    const log = document.createElement('details');
    const summary = document.createElement('summary');
    summary.textContent = 'Log lines';
    const lines = document.createElement('pre');
    lines.textContent = output.lines.join('\n');
    log.append(summary, lines);
    block.append(title, facts, line, log);
    if (output.deviation && !output.deviation.reason) block.append(deviationPlot(output.deviation, showFrame));
    block.append(actions);
    return block;
}

function save(blob, name) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

// Every reduced file of every model, names made unique within the zip.
ui.downloadAll.addEventListener('click', () => {
    const files = {};
    for (const entry of entries) {
        for (const output of entry.reduction?.outputs ?? []) {
            let name = output.name;
            for (let n = 2; name in files; ++n) name = output.name.replace(/(\.[^.]*)?$/, ` (${n})$1`);
            files[name] = [new Uint8Array(output.bytes), { level: 6 }];
        }
    }
    save(new Blob([zipSync(files)], { type: 'application/zip' }), 'kelvane-reduced.zip');
});

// ---- dropping and picking ----

ui.files.addEventListener('change', () => {
    open([...ui.files.files]);
    ui.files.value = '';
});
let dragDepth = 0;
document.addEventListener('dragenter', (event) => {
    event.preventDefault();
    ui.overlay.hidden = ++dragDepth === 0;
});
document.addEventListener('dragleave', () => {
    ui.overlay.hidden = --dragDepth <= 0;
});
document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => {
    event.preventDefault();
    dragDepth = 0;
    ui.overlay.hidden = true;
    open([...event.dataTransfer.files]);
});
