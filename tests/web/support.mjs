// What the page's tests share: where things are, a scratch folder, the
// generated models, kelvane-cli, the core under node and a static server.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { after } from 'node:test';

export const webDir = process.env.KELVANE_WEB_DIR;
export const site = path.join(webDir ?? '', 'site');
export const sharedModels = process.env.KELVANE_SHARED_MODELS ?? '';

// Without a built site there is nothing to test: ctest reads 77 as skipped.
export function skipWithoutSite() {
    if (!webDir || !fs.existsSync(path.join(site, 'kelvane.wasm'))) {
        console.log(`skipped: no site in ${site}; make web builds it`);
        process.exit(77);
    }
}

// puppeteer-core from web/package.json (make web runs npm ci), driving
// Debian's chromium: no browser is downloaded.
export async function launchBrowser(profile) {
    const require = createRequire(new URL('../../web/', import.meta.url));
    let puppeteer;
    try {
        puppeteer = require('puppeteer-core');
    } catch {
        console.log('skipped: puppeteer-core is not installed; make web installs it');
        process.exit(77);
    }
    return puppeteer.launch({
        executablePath: '/usr/bin/chromium',
        headless: true,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
            '--disable-sync', '--no-first-run', `--user-data-dir=${profile}`],
    });
}

// A folder of this test's own, removed when it ends.
export function scratch() {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kelvane-web-'));
    after(() => fs.rmSync(dir, { recursive: true, force: true }));
    return dir;
}

export function makeModels(dir) {
    const run = spawnSync(process.env.KELVANE_WEB_MODELS, [dir], { encoding: 'utf8' });
    if (run.status !== 0) throw new Error(`web_models failed: ${run.stderr}`);
}

export function sharedModel(name) {
    const file = path.join(sharedModels, name);
    return fs.existsSync(file) ? file : null;
}

// kelvane-cli with these words; throws unless it accepted the model (4: a
// budget was missed and the files written all the same).
export function cli(...args) {
    const run = spawnSync(process.env.KELVANE_CLI, args, { encoding: 'utf8' });
    if (run.status !== 0 && run.status !== 4) throw new Error(`kelvane-cli ${args.join(' ')}: ${run.status}\n${run.stderr}`);
    return run.stdout;
}

// The core as the page's workers load it (emscripten's own loader would
// fetch the file under node, which it cannot).
export async function loadCore() {
    const { default: createKelvane } = await import(path.join(site, 'kelvane.js'));
    return createKelvane({ wasmBinary: fs.readFileSync(path.join(site, 'kelvane.wasm')) });
}

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm', '.txt': 'text/plain' };

// The site on 127.0.0.1 at a free port, under a sub-path as a host may put it.
export async function serve(root, prefix = '/some/path/') {
    const server = http.createServer((request, response) => {
        const url = new URL(request.url, 'http://localhost');
        const relative = decodeURIComponent(url.pathname).slice(prefix.length);
        const file = path.join(root, relative || 'index.html');
        if (!url.pathname.startsWith(prefix) || !file.startsWith(root) || !fs.existsSync(file)) {
            response.writeHead(404).end();
            return;
        }
        response.writeHead(200, { 'Content-Type': types[path.extname(file)] ?? 'application/octet-stream' });
        fs.createReadStream(file).pipe(response);
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    after(() => server.close());
    return `http://127.0.0.1:${server.address().port}${prefix}`;
}
