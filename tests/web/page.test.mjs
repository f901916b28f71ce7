// The page in a real browser, as a person uses it: files in through the
// file input, a reduction to a budget whose download is kelvane-cli's bytes,
// both pictures drawn, one plot point per frame, a refused file beside the
// others, and Cancel in the middle of a long reduction. Leaves screenshots
// at 1280x720 and phone size in build-web/ (the README's picture among them).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { cli, launchBrowser, makeModels, scratch, serve, site, skipWithoutSite, webDir } from './support.mjs';

skipWithoutSite();
let browser;
let page;
after(() => browser?.close());  // before the scratch folder goes
const dir = scratch();
makeModels(dir);
const downloads = path.join(dir, 'downloads');
const url = await serve(site);  // here: a server started in a hook would stop when the hook ends

before(async () => {
    browser = await launchBrowser(path.join(dir, 'profile'));
    page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 720 });
    const cdp = await browser.target().createCDPSession();
    await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
    await page.goto(url);
});

async function addFiles(...names) {
    const count = (await page.$$('.entry')).length + names.length;
    const input = await page.$('#files');
    await input.uploadFile(...names.map((name) => path.join(dir, name)));
    await page.waitForFunction((count) => document.querySelectorAll('.entry.accepted, .entry.refused').length === count,
        { timeout: 30000 }, count);
}

async function selectEntry(name) {
    const entries = await page.$$('.entry > button');
    for (const entry of entries) if ((await entry.$eval('strong', (s) => s.textContent)) === name) await entry.click();
}

// A picture that is not all one colour has been drawn.
const coloursIn = (id) => page.$eval(`#${id}`, (canvas) => {
    const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    const seen = new Set();
    for (let i = 0; i < pixels.length && seen.size < 50; i += 4 * 7) seen.add(pixels.slice(i, i + 3).join());
    return seen.size;
});

async function downloaded(name) {
    const file = path.join(downloads, name);
    for (let wait = 0; wait < 100 && !fs.existsSync(file); ++wait) await new Promise((resolve) => setTimeout(resolve, 100));
    return fs.readFileSync(file);
}

test('a budget\'s download is kelvane-cli\'s bytes, drawn before and after, plotted frame by frame', async () => {
    await addFiles('walker.mdl', 'damaged.mdl');
    await selectEntry('walker.mdl');
    await page.$eval('#target', (input) => { input.value = '700'; input.dispatchEvent(new Event('change')); });
    await page.click('#run');
    await page.waitForSelector('#result:not([hidden]) .download', { timeout: 60000 });
    await page.click('#result .download');
    const expected = path.join(dir, 'walker-cli.mdl');
    const printed = cli('reduce', '--target-tris', '700', path.join(dir, 'walker.mdl'), '-o', expected).trim().split('\n');
    assert.ok((await downloaded('walker_reduced.mdl')).equals(fs.readFileSync(expected)), 'the download is kelvane-cli\'s file');

    await page.waitForFunction(() => document.querySelector('#after-caption').textContent.includes('700 triangles'));
    await new Promise((resolve) => setTimeout(resolve, 500));  // the after picture follows the result
    assert.ok(await coloursIn('before') > 3, 'the model as opened is drawn');
    assert.ok(await coloursIn('after') > 3, 'the reduced model is drawn');
    const frames = await page.$$eval('.plot .point.hausdorff', (points) => points.length);
    assert.equal(frames, 16, 'one plot point per frame of the report');
    assert.equal(await page.$eval('.deviation', (line) => line.textContent), printed.at(-1), 'the tool\'s DEVIATION line');
    assert.match(printed.at(-1), /^DEVIATION: Hausdorff .* 2072 -> 700 triangles; over 16 of 24 frames$/);

    // The worst frame's mark shows that frame.
    await page.click('.plot .worst');
    const worst = await page.$eval('.deviation', (line) => Number(/\(frame (\d+)\)/.exec(line.textContent)[1]));
    assert.equal(await page.$eval('#frame', (slider) => Number(slider.value)), worst);

    await page.click('#wire');
    await page.evaluate(() => window.scrollTo(0, 0));
    await new Promise((resolve) => setTimeout(resolve, 500));
    await page.screenshot({ path: path.join(webDir, 'page-1280x720.png') });
    await page.setViewport({ width: 390, height: 844 });
    await new Promise((resolve) => setTimeout(resolve, 500));
    await page.screenshot({ path: path.join(webDir, 'page-phone.png') });
    await page.evaluate(() => document.querySelector('#result').scrollIntoView());
    await page.screenshot({ path: path.join(webDir, 'page-phone-result.png') });
    await page.setViewport({ width: 1280, height: 720 });
});

test('a damaged file shows its ERROR: lines and the page stays usable', async () => {
    const errors = await page.$eval('.entry.refused .errors', (pre) => pre.textContent);
    assert.match(errors, /^ERROR:/);
    await selectEntry('damaged.mdl');
    assert.equal(await page.$eval('#run', (button) => button.disabled), true, 'a refused model cannot be reduced');
    assert.match(await page.$eval('#refusal', (pre) => pre.textContent), /ERROR:/);
    await selectEntry('walker.mdl');
    assert.equal(await page.$eval('#run', (button) => button.disabled), false);
});

test('Cancel during a long reduction leaves the model as it was', async () => {
    await addFiles('slow.mdl');
    await selectEntry('slow.mdl');
    await page.$eval('#share', (input) => { input.value = '5'; input.dispatchEvent(new Event('change')); });
    await page.click('#run');
    await page.waitForFunction(() => document.querySelector('#progress').value > 0 || /collapses/.test(document.querySelector('#status').textContent),
        { timeout: 30000 });
    await page.click('#cancel');
    await page.waitForFunction(() => /cancelled/.test(document.querySelector('#status').textContent), { timeout: 10000 });
    const state = await page.evaluate(() => ({
        badge: document.querySelector('.entry.selected .badge').textContent,
        result: document.querySelector('#result').hidden,
        caption: document.querySelector('#after-caption').textContent,
        run: document.querySelector('#run').disabled,
    }));
    assert.deepEqual(state, { badge: 'accepted', result: true, caption: 'Reduced: nothing yet', run: false });
    // The new worker reduces again.
    await selectEntry('walker.mdl');
    await page.click('#run');
    await page.waitForFunction(() => /reduced in/.test(document.querySelector('#status').textContent), { timeout: 60000 });
});

test('opened straight from a file, the page says it needs a web server', async () => {
    const local = await browser.newPage();
    await local.goto(`file://${path.join(site, 'index.html')}`);
    assert.equal(await local.$eval('#needs-server', (p) => p.hidden), false);
    assert.equal(await page.$eval('#needs-server', (p) => p.hidden), true, 'not from a server');
    await local.close();
});
