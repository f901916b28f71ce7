// One run of kelvane-cli reduce on a model's bytes, as the page runs it: a
// triangle budget, a chain of levels of detail, or written passes, each
// output measured against the model as loaded. k is a loaded core (the
// reducing worker's, or a test's); report receives (share of the work done, text).

function countsOf(summary) {
    return { vertices: summary.vertices, triangles: summary.triangles, skinVertices: summary.skinVertices };
}

// plan: { kind: 'budget', triangles } | { kind: 'lods', shares: [falling shares] }
//     | { kind: 'passes', level, passes }. Returns one output per file the tool
// would write: its bytes (an ArrayBuffer), counts, log lines, budget and deviation.
export function runPlan(k, bytes, plan, report = () => {}) {
    const model = new k.Model();
    let original = null;
    try {
        if (!model.load(new Uint8Array(bytes))) throw new Error(model.lines().join(' '));
        original = new k.Model(model);
        const fileTriangles = model.triangles();
        const steps = plan.kind === 'lods' ? plan.shares.length : 1;
        const outputs = [];
        for (let step = 0; step < steps; ++step) {
            const progress = (share, text) => report((step + share) / steps, steps > 1 ? `level ${step + 1} of ${steps}: ${text}` : text);
            const linesBefore = model.lines().length;
            let outcome = null;
            progress(0, 'reducing');
            if (plan.kind === 'passes') {
                if (!model.reducePasses(plan.level, plan.passes, (text) => progress(0.35, text)))
                    throw new Error('written passes (--level and --passes) work on MDL5 models only');
            } else {
                // Each level's budget is a share of the file's own triangles, the
                // whole number below, as the tool rounds it.
                const budget = plan.kind === 'lods' ? Math.floor(plan.shares[step] * fileTriangles) : plan.triangles;
                outcome = model.reduceToBudget(budget, (text) => {
                    const percent = parseInt(text, 10);  // "40% of the collapses"
                    progress(Number.isFinite(percent) ? (0.7 * percent) / 100 : 0.35, text);
                });
            }
            progress(0.7, 'measuring');
            const deviation = model.deviationFrom(original, (share) => progress(0.7 + 0.3 * share, `measuring: ${Math.round(share * 100)}% of the frames`));
            outputs.push({
                bytes: model.save().buffer,
                counts: countsOf(model.summary()),
                lines: model.lines().slice(linesBefore),
                budget: outcome?.budget ?? null,
                met: outcome?.met ?? null,
                stoppedBecause: outcome?.stoppedBecause ?? '',
                deviation,
            });
        }
        return outputs;
    } finally {
        model.delete();
        original?.delete();
    }
}
