// The page's figures from one run (make web-bench): the site's size gzipped,
// its first paint from a local server, halving minigun.mdl and earth.mdl in
// the page against kelvane-cli on the same machine, and a model of about
// 100 MB opened and halved in the page, with the core's memory at the end.
// Reads the paths from the environment, as the page's tests do.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { gzipSync } from 'node:zlib';
import { launchBrowser, scratch, serve, sharedModel, site } from '../tests/web/support.mjs';

const runs = Number(process.argv[2] ?? 5);
const dir = scratch();
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// 1. size: what a browser fetches, gzipped
let gzipped = 0;
for (const name of ['kelvane.wasm', 'kelvane.js', 'app.js', 'plot.js', 'reduction.js', 'worker.js', 'workers.js', 'vendor/fflate.js', 'index.html', 'style.css'])
    gzipped += gzipSync(fs.readFileSync(path.join(site, name)), { level: 9 }).length;
console.log(`site gzipped: ${(gzipped / 1024).toFixed(1)} KB (wasm and scripts, page and style)`);

const url = await serve(site);
const browser = await launchBrowser(path.join(dir, 'profile'));
try {
    // 2. first paint, each load in a fresh page
    const paints = [];
    for (let run = 0; run < runs; ++run) {
        const page = await browser.newPage();
        await page.goto(`${url}?run=${run}`, { waitUntil: 'load' });
        await page.waitForFunction(() => performance.getEntriesByName('first-contentful-paint').length > 0);
        paints.push(await page.evaluate(() => performance.getEntriesByName('first-contentful-paint')[0].startTime));
        await page.close();
    }
    console.log(`first contentful paint: median ${median(paints).toFixed(0)} ms, largest ${Math.max(...paints).toFixed(0)} ms`);

    const page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 720 });
    await page.goto(url);
    // Halves the entry on show, as a person would: share 50%, Reduce; the
    // page's own time from the click to the result (load, reduce, measure, save).
    const halveInPage = async (timeout) => {
        await page.$eval('#share', (input) => { input.value = '50'; input.dispatchEvent(new Event('change')); });
        await page.$eval('#status', (status) => { status.textContent = ''; });
        await page.click('#run');
        await page.waitForFunction(() => /reduced in|failed/.test(document.querySelector('#status').textContent), { timeout, polling: 100 });
        const status = await page.$eval('#status', (s) => s.textContent);
        if (!/reduced in/.test(status)) throw new Error(status);
        return { seconds: Number(/reduced in ([\d.]+) s/.exec(status)[1]), memoryMB: Number(/memory is (\d+) MB/.exec(status)[1]) };
    };
    const open = async (file) => {
        const count = (await page.$$('.entry')).length + 1;
        await (await page.$('#files')).uploadFile(file);
        await page.waitForFunction((n) => document.querySelectorAll('.entry.accepted, .entry.refused').length === n, { timeout: 120000 }, count);
        const entries = await page.$$('.entry > button');
        await entries[entries.length - 1].click();
    };
    const native = (file) => {
        const start = process.hrtime.bigint();
        const run = spawnSync(process.env.KELVANE_CLI, ['reduce', '--quiet', '--ratio', '0.5', file, '-o', path.join(dir, 'half.mdl')]);
        if (run.status !== 0) throw new Error(`kelvane-cli failed on ${file}`);
        return Number(process.hrtime.bigint() - start) / 1e9;
    };

    // 3. halving the real models, page and tool taking turns
    for (const name of ['minigun.mdl', 'earth.mdl']) {
        const file = sharedModel(name);
        if (!file) {
            console.log(`${name}: not in the shared models, skipped`);
            continue;
        }
        await open(file);
        const inPage = [];
        const tool = [];
        for (let run = 0; run < runs; ++run) {
            inPage.push((await halveInPage(120000)).seconds);
            tool.push(native(file));
        }
        console.log(`${name} halved: page median ${median(inPage).toFixed(3)} s (first ${inPage[0].toFixed(3)} s), ` +
            `kelvane-cli median ${median(tool).toFixed(3)} s; ratio ${(median(inPage) / median(tool)).toFixed(2)}; ` +
            `after: ${await page.$eval('#after-caption', (caption) => caption.textContent)}`);
    }

    // 4. about 100 MB in the page
    if (process.env.KELVANE_WEB_LARGE) {
        const large = path.join(dir, 'large.mdl');
        spawnSync(process.env.KELVANE_WEB_MODELS, [dir, '--large']);
        const megabytes = fs.statSync(large).size / 2 ** 20;
        const opened = Date.now();
        await open(large);
        const openSeconds = (Date.now() - opened) / 1000;
        const { seconds, memoryMB } = await halveInPage(1800000);
        console.log(`large.mdl (${megabytes.toFixed(1)} MB) opened in ${openSeconds.toFixed(1)} s, halved in the page in ${seconds.toFixed(1)} s ` +
            `(kelvane-cli ${native(large).toFixed(1)} s); the reducing core's memory ${memoryMB} MB of 4,096 MB`);
    } else {
        console.log('large.mdl: set KELVANE_WEB_LARGE=1 to open and halve a model of about 100 MB (minutes)');
    }
} finally {
    await browser.close();
}
