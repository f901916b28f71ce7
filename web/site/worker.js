// The page's two workers run this module, each with its own copy of the core:
// one draws (and looks at new files), one reduces and measures. Cancelling a
// reduction ends its worker; the drawing never waits for a reduction.
import createKelvane from './kelvane.js';
import { runPlan } from './reduction.js';

const ready = createKelvane();

// Models kept by the drawing worker for the one entry on show.
const shown = { before: null, after: null, view: null };

function unionBox(a, b) {
    if (!b || b.empty) return a;
    if (a.empty) return b;
    return {
        empty: false,
        min: a.min.map((v, i) => Math.min(v, b.min[i])),
        max: a.max.map((v, i) => Math.max(v, b.max[i])),
    };
}

function loaded(k, bytes) {
    const model = new k.Model();
    model.load(new Uint8Array(bytes));
    return model;
}

const handlers = {
    formats(k) {
        return { result: k.formats() };
    },

    // What the list shows of a file: accepted or not, the container's lines, the summary.
    inspect(k, { bytes }) {
        const model = loaded(k, bytes);
        try {
            return { result: { accepted: model.accepted(), lines: model.lines(), summary: model.summary() } };
        } finally {
            model.delete();
        }
    },

    // The models drawn from now on; after may be absent (nothing reduced yet).
    show(k, { before, after }) {
        if (before) {
            shown.before?.delete();
            shown.before = loaded(k, before);
            shown.beforeBox = shown.before.animationBox();
        }
        shown.after?.delete();
        shown.after = after ? loaded(k, after) : null;
        shown.view = unionBox(shown.beforeBox, shown.after?.animationBox());
        return { result: {} };
    },

    // Both models under one camera; pixels move to the page without a copy.
    render(k, { options }) {
        const draw = (model) => (model ? model.render(options, shown.view) : null);
        const before = draw(shown.before);
        const after = draw(shown.after);
        const transfer = [before, after].filter(Boolean).map((image) => image.pixels.buffer);
        return { result: { before, after }, transfer };
    },

    // One run of kelvane-cli reduce; progress goes to the page as it comes.
    reduce(k, { bytes, plan }) {
        const outputs = runPlan(k, bytes, plan, (share, text) => postMessage({ type: 'progress', share, text }));
        // The core's memory only grows: its size now is the most the run needed.
        return { result: { outputs, memoryBytes: k.HEAPU8.length }, transfer: outputs.map((output) => output.bytes) };
    },
};

onmessage = async ({ data }) => {
    let k;
    try {
        k = await ready;
    } catch (error) {
        postMessage({ type: 'failed', id: data.id, message: `The core did not start: ${error}` });
        return;
    }
    try {
        const { result, transfer = [] } = handlers[data.type](k, data);
        postMessage({ type: 'done', id: data.id, result }, transfer);
    } catch (error) {
        // An abort (memory exhausted, or a fault) leaves the module unusable:
        // the page replaces this worker.
        postMessage({ type: 'failed', id: data.id, message: String(error?.message ?? error) });
    }
};
