// One run of kelvane-cli reduce on a model's bytes, as the page runs it: a
// triangle budget, a chain of levels of detail, or written passes, each
// output measured against the model as loaded, all by the core's one
// pipeline. k is a loaded core (the reducing worker's, or a test's); report
// receives (share of the work done, text).

// plan: { kind: 'budget', triangles } | { kind: 'lods', shares: [falling shares] }
//     | { kind: 'passes', level, passes }, each with everyFrame (measure every
// frame, as --measure does, rather than the report's few). Returns one output
// per file the tool would write: its bytes (an ArrayBuffer), counts, log
// lines, budget and deviation (with the tool's DEVIATION line as line).
export function runPlan(k, bytes, plan, report = () => {}) {
    const model = new k.Model();
    try {
        if (!model.load(new Uint8Array(bytes))) throw new Error(model.lines().join(' '));
        const linesBefore = model.lines().length;
        const outputs = model.reduce(plan, report);
        // A plan the model's format cannot take says why in an ERROR: line.
        if (!outputs.length) throw new Error(model.lines().slice(linesBefore).join(' '));
        for (const output of outputs) output.bytes = output.bytes.buffer;
        return outputs;
    } finally {
        model.delete();
    }
}
