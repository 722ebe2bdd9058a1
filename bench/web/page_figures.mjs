// Figures of the browser page against the host on the built-in simulated robot:
//   node bench/web/page_figures.mjs [--runs N] [--seconds S] [BUILD_DIR]
// - page weight: the bytes a first visit transfers (compressed bodies), and the files' sizes;
// - time from navigation to the device table listing all eight devices, cold and warm cache;
// - requests per second the page causes while idle (a device's panel open) and while plotting;
// - the host's CPU (all its threads, per cent of one core) in the same windows, and with no
//   page open as the baseline.
// Medians over the runs; a fresh host per run. Run it under `nice -n 19` on a shared machine.
import { spawn } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { cpus, loadavg } from 'node:os';
import { join, resolve } from 'node:path';
import { launchBrowser, openDevice, openTab } from '../../web/test/page_helpers.mjs';

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 ? Number(args.splice(at, 2)[1]) : fallback;
};
const runs = option('--runs', 3);
const seconds = option('--seconds', 20);
const buildDir = resolve(args[0] ?? 'build');
const host = join(buildDir, 'host/tessera-diag-server');
const ticksPerSecond = 100;  // USER_HZ of /proc/PID/stat on Linux

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
};
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function startHost() {
  const child = spawn(host, ['--port', '0', '--start-delay', '0', '--can', 'sim'],
                      { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolvePort, reject) => {
    let output = '';
    child.stdout.on('data', (chunk) => {
      output += chunk;
      const match = /running on port: (\d+)/.exec(output);
      if (match) resolvePort({ child, port: Number(match[1]) });
    });
    child.on('exit', () => reject(new Error(`the host ended: ${output}`)));
  });
}

function cpuTicks(pid) {
  const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return Number(fields[11]) + Number(fields[12]);  // utime + stime
}

// Per cent of one core the host used over `ms`, and the requests the page made meanwhile.
async function window(pid, counter, ms) {
  const ticks = cpuTicks(pid);
  const requests = counter.count;
  const start = Date.now();
  await sleep(ms);
  const elapsed = (Date.now() - start) / 1000;
  return {
    cpu: (100 * (cpuTicks(pid) - ticks)) / ticksPerSecond / elapsed,
    rps: (counter.count - requests) / elapsed,
  };
}

async function waitForTable(page) {
  await page.locator('section.devices tbody tr').nth(7).waitFor({ timeout: 30000 });
}

async function oneRun(browser) {
  const { child, port } = await startHost();
  const url = `http://127.0.0.1:${port}/ui/`;
  try {
    // Let discovery settle, so the figures are the page's and not the start-up's.
    const settle = await browser.newPage();
    await settle.goto(url);
    await waitForTable(settle);
    await settle.close();
    const baseline = await window(child.pid, { count: 0 }, seconds * 1000);

    const context = await browser.newContext({ viewport: { width: 1280, height: 860 } });
    const page = await context.newPage();
    const counter = { count: 0 };
    const sizes = [];
    page.on('request', () => ++counter.count);
    page.on('requestfinished', (request) => {
      if (request.url().includes('/ui/')) sizes.push(request.sizes().then((s) => s.responseBodySize));
    });
    let started = Date.now();
    await page.goto(url);
    await waitForTable(page);
    const coldMs = Date.now() - started;
    const weight = (await Promise.all(sizes)).reduce((sum, bytes) => sum + bytes, 0);
    started = Date.now();
    await page.reload();
    await waitForTable(page);
    const warmMs = Date.now() - started;

    await openDevice(page, 'Kestrel KX (Device ID 1)');
    const idle = await window(child.pid, counter, seconds * 1000);
    await openTab(page, 'Live data');
    await page.getByRole('button', { name: 'Stop plotting' }).waitFor();
    const plotting = await window(child.pid, counter, seconds * 1000);
    await context.close();
    return { weight, coldMs, warmMs, baseline, idle, plotting };
  } finally {
    child.kill('SIGTERM');
    await new Promise((r) => child.on('exit', r));
  }
}

const manifest = JSON.parse(readFileSync(join(buildDir, 'web/dist/manifest.json'), 'utf8'));
console.log(`page files (bytes, gzip): ${manifest.map((f) => `${f.path} ${f.bytes} ${f.gzipBytes}`).join('; ')}`);
console.log(`load average before: ${loadavg().map((l) => l.toFixed(2)).join(' ')} on ${cpus().length} cores`);
const browser = await launchBrowser();
const results = [];
for (let i = 0; i < runs; ++i) {
  const result = await oneRun(browser);
  results.push(result);
  console.log(`run ${i + 1}: weight ${result.weight} B, table ${result.coldMs} ms cold / ${result.warmMs} ms warm, ` +
              `idle ${result.idle.rps.toFixed(2)} req/s host ${result.idle.cpu.toFixed(1)} %, ` +
              `plotting ${result.plotting.rps.toFixed(2)} req/s host ${result.plotting.cpu.toFixed(1)} %, ` +
              `no page: host ${result.baseline.cpu.toFixed(1)} %`);
}
await browser.close();
const pick = (f) => median(results.map(f));
console.log(`medians of ${runs} runs (${seconds} s windows):`);
console.log(`  page weight, first visit: ${pick((r) => r.weight)} bytes compressed`);
console.log(`  navigation to the eight-device table: ${pick((r) => r.coldMs)} ms cold cache, ${pick((r) => r.warmMs)} ms warm`);
console.log(`  requests/s idle: ${pick((r) => r.idle.rps).toFixed(2)}; plotting: ${pick((r) => r.plotting.rps).toFixed(2)}`);
console.log(`  host CPU (% of one core): no page ${pick((r) => r.baseline.cpu).toFixed(1)}, ` +
            `page idle ${pick((r) => r.idle.cpu).toFixed(1)}, plotting ${pick((r) => r.plotting.cpu).toFixed(1)}`);
console.log(`load average after: ${loadavg().map((l) => l.toFixed(2)).join(' ')}`);
