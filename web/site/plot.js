// The per-frame deviation as an SVG plot: Hausdorff and RMS in percent of the
// box diagonal against the frame, one point per frame and series. A point
// (and the worst frame's mark) is a button that shows its frame.

const SVG = 'http://www.w3.org/2000/svg';

function element(name, attributes = {}, parent = null) {
    const node = document.createElementNS(SVG, name);
    for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
    if (parent) parent.append(node);
    return node;
}

export function deviationPlot(deviation, onFrame) {
    const width = 560;
    const height = 210;
    const pad = { left: 64, right: 12, top: 12, bottom: 40 };
    const frames = deviation.frames;
    const top = Math.max(...frames.map((f) => f.hausdorff * 100), 1e-6) * 1.1;
    const x = (i) => pad.left + (frames.length > 1 ? (i / (frames.length - 1)) * (width - pad.left - pad.right) : (width - pad.left - pad.right) / 2);
    const y = (percent) => height - pad.bottom - (percent / top) * (height - pad.top - pad.bottom);

    const svg = element('svg', { viewBox: `0 0 ${width} ${height}`, role: 'group', class: 'plot',
        'aria-label': 'Deviation per frame: Hausdorff and RMS in percent of the box diagonal' });
    // axes and a few ticks
    element('line', { x1: pad.left, y1: height - pad.bottom, x2: width - pad.right, y2: height - pad.bottom, class: 'axis' }, svg);
    element('line', { x1: pad.left, y1: pad.top, x2: pad.left, y2: height - pad.bottom, class: 'axis' }, svg);
    for (const share of [0, 0.5, 1]) {
        const value = (top / 1.1) * share;
        element('text', { x: pad.left - 6, y: y(value) + 4, class: 'tick', 'text-anchor': 'end' }, svg).textContent = `${Number(value.toPrecision(2))}%`;
    }
    for (const i of new Set([0, Math.floor((frames.length - 1) / 2), frames.length - 1])) {
        element('text', { x: x(i), y: height - pad.bottom + 16, class: 'tick', 'text-anchor': 'middle' }, svg).textContent = String(frames[i].frame);
    }
    element('text', { x: width - pad.right, y: height - 4, class: 'tick', 'text-anchor': 'end' }, svg).textContent = 'frame';
    // the legend, in the series' colours
    [['Hausdorff', 'hausdorff'], ['RMS', 'rms']].forEach(([label, series], i) => {
        element('line', { x1: pad.left + 10 + i * 110, y1: height - 8, x2: pad.left + 28 + i * 110, y2: height - 8, class: `line ${series}` }, svg);
        element('text', { x: pad.left + 32 + i * 110, y: height - 4, class: 'tick' }, svg).textContent = label;
    });

    for (const [series, key] of [['hausdorff', 'hausdorff'], ['rms', 'rms']]) {
        const points = frames.map((f, i) => `${x(i)},${y(f[key] * 100)}`).join(' ');
        element('polyline', { points, class: `line ${series}` }, svg);
        frames.forEach((f, i) => {
            const point = element('circle', { cx: x(i), cy: y(f[key] * 100), r: 3.5, class: `point ${series}`, 'data-frame': f.frame }, svg);
            element('title', {}, point).textContent = `frame ${f.frame} ${f.name}: ${series === 'rms' ? 'RMS' : 'Hausdorff'} ${(f[key] * 100).toFixed(4)}%`;
            point.addEventListener('click', () => onFrame(f.frame));
        });
    }
    // the worst frame, by Hausdorff, marked and reachable from the keyboard
    const worst = frames.findIndex((f) => f.frame === deviation.hausdorffFrame);
    if (worst >= 0) {
        const mark = element('a', { href: '#', class: 'worst', 'aria-label': `Show the worst frame, ${deviation.hausdorffFrame}` }, svg);
        element('circle', { cx: x(worst), cy: y(frames[worst].hausdorff * 100), r: 7 }, mark);
        mark.addEventListener('click', (event) => {
            event.preventDefault();
            onFrame(deviation.hausdorffFrame);
        });
    }
    return svg;
}
