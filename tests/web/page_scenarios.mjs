// The browser page driven in headless Chromium against the whole server on the simulated
// robot (browser_page_test.cpp runs this with node's test runner). Every effect is checked
// where it lands: through the server's own answers and on the simulated devices, never only
// on the page.
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, it } from 'node:test';
import {
  deviceRows, kPhone, launchBrowser, namesOfRole, openDevice, openPage, openTab, screenshot,
  setRange, tabTo, unnamedControls, waitFor,
} from '../../web/test/page_helpers.mjs';

const pageUrl = process.env.TESSERA_PAGE_URL;
const probeUrl = process.env.TESSERA_PROBE_URL;
const server = new URL('/', pageUrl);

async function serverAnswer(params) {
  const response = await fetch(new URL(`/?${new URLSearchParams(params)}`, server));
  return JSON.parse(await response.text());
}
const probe = async (path) => (await fetch(`${probeUrl}${path}`)).json();
const simulated = async (family) => (await probe('/devices')).find((d) => d.family === family);
const listed = async () => (await serverAnswer({ action: 'getdevices' })).DeviceArray;
const monotonicMicros = () => Number(process.hrtime.bigint() / 1000n);
// How long after `releasedUs` the simulated motor's output went to 0 for good; it must have run
// at half output in the half second before.
function stopDelay(changes, releasedUs) {
  const outputAt = (us) => changes.filter((c) => c.us <= us).pop()?.output;
  const before = changes.filter((c) => c.us > releasedUs - 500000 && c.us <= releasedUs);
  assert.ok([outputAt(releasedUs - 500000), ...before.map((c) => c.output)].includes(512 / 1023),
            `not running before the release: ${JSON.stringify(changes.slice(-5))}`);
  const last = changes[changes.length - 1];
  assert.equal(last.output, 0, `still running: ${JSON.stringify(changes.slice(-5))}`);
  return Math.max(0, last.us - releasedUs);
}
// Waits for `locator`; a time-out says what the page showed instead.
async function explained(page, locator, timeout = 15000) {
  try {
    await locator.waitFor({ timeout });
  } catch (e) {
    throw new Error(`${e.message}\nthe page showed:\n${await page.locator('main').ariaSnapshot()}`);
  }
}
// Counts, on the page, its requests of `action` from now on; `asked` reads the count.
async function countRequests(page, action) {
  await page.evaluate((name) => {
    window.asked = { ...window.asked, [name]: 0 };
    const send = window.fetch;
    window.fetch = (url, init) => {
      if (new URL(url, location.href).searchParams.get('action') === name) window.asked[name] += 1;
      return send(url, init);
    };
  }, action);
}
const asked = (page, action) => page.evaluate((name) => window.asked[name], action);
const statusText = (page) => page.locator('.tab-body p.status').allInnerTexts();

describe('the browser page', { concurrency: false }, () => {
  let browser;
  let page;
  before(async () => {
    browser = await launchBrowser();
    page = await openPage(browser, pageUrl);
  });
  after(async () => {
    await browser?.close();
  });

  it('lists the eight devices of the built-in robot, as the server does', async () => {
    await waitFor(async () => (await deviceRows(page).count()) === 8, 'eight rows', 30000);
    await page.getByText('8 devices, updated every second.').waitFor({ timeout: 15000 });
    // The page and the server list the same devices (compared until both have settled, since a
    // loaded machine may drop a device from a listing round now and then).
    const names = async () => JSON.stringify((await listed()).map((d) => d.Name).sort());
    const shown = async () => JSON.stringify((await page.locator('section.devices tbody th button').allInnerTexts()).sort());
    await waitFor(async () => (await shown()) === (await names()) && (await names()).split(',').length === 8,
                  'the page to list what the server lists', 15000, 200);
    assert.deepEqual(await unnamedControls(page), []);
    await screenshot(page, 'devices-desktop');
  });

  it('blinks a device with the keyboard alone, and the simulated LED blinks', async () => {
    const before = (await simulated('kestrel kx')).blinks;
    await page.locator('body').focus();
    await tabTo(page, 'button', 'Kestrel KX (Device ID 1)');
    await page.keyboard.press('Enter');
    await explained(page, page.getByRole('heading', { level: 2, name: 'Kestrel KX (Device ID 1)' }));
    await tabTo(page, 'button', 'Blink LED');
    await page.keyboard.press('Enter');
    await page.getByText('The LED is blinking').waitFor();
    assert.equal((await simulated('kestrel kx')).blinks, before + 1);
    // The tabs answer the arrow keys.
    await page.getByRole('tab', { name: 'Commands' }).focus();
    await page.keyboard.press('ArrowRight');
    await page.getByRole('tab', { name: 'Self-test', selected: true }).waitFor();
    await openTab(page, 'Commands');
    await screenshot(page, 'commands-desktop');
  });

  it('shows the self-test report the server gives', async () => {
    await openTab(page, 'Self-test');
    const report = page.getByLabel('Self-test report');
    await waitFor(async () => (await report.innerText()).includes('Build:'), 'the report');
    const shown = await report.evaluate((pre) => pre.textContent);
    const answer = await serverAnswer({ action: 'selftest', model: 'kestrel kx', id: '1' });
    assert.equal(answer.GeneralReturn.Error, 0);
    // Two captures of a device at rest read the same frames; only measured digits may move.
    const shape = (text) => text.replace(/\d/g, '#');
    assert.equal(shape(shown), shape(answer.SelfTest));
    assert.ok(await page.locator('pre.report .warning', { hasText: 'NOT ENABLED' }).count() > 0);
    await screenshot(page, 'selftest-desktop');
  });

  it('writes a configuration change that lands in the device image', async () => {
    await openDevice(page, 'Kestrel KF (Device ID 2)');
    await openTab(page, 'Configuration');
    const field = page.getByLabel('Custom Param 0', { exact: true });
    await field.waitFor();
    const simBefore = await simulated('kestrel kf');
    await field.fill('1234');
    assert.match(await field.locator('xpath=..').getAttribute('class'), /changed/);
    await page.getByRole('button', { name: 'Write to device' }).click();
    await page.getByText('Written and read back').waitFor({ timeout: 15000 });
    const answer = await serverAnswer({ action: 'getconfig', model: 'kestrel kf', id: '2' });
    const custom = answer.Device.Configs.find((entry) => entry.Type === 'CustomParams');
    assert.equal(custom.Values['Custom Param 0'], 1234);
    // The image position of "Custom Param 0", a little-endian 32-bit integer at byte 392.
    const simAfter = await simulated('kestrel kf');
    assert.equal(simAfter.configImage.slice(2 * 392, 2 * 396), 'd2040000');
    assert.equal(simAfter.configWrites, simBefore.configWrites + 1);
    await screenshot(page, 'configuration-desktop');

    // The backup holds the server's document and where it came from.
    const [saved] = await Promise.all([page.waitForEvent('download'),
                                       page.getByRole('button', { name: 'Save backup', exact: true }).click()]);
    assert.equal(saved.suggestedFilename(), 'kestrel-kf-2.json');
    const backupText = readFileSync(await saved.path(), 'utf8');
    const backup = JSON.parse(backupText);
    assert.equal(backup.Backup.Model, 'Kestrel KF');
    assert.equal(backup.Backup.SerialNo, (await listed()).find((d) => d.ID === 2 && d.Model === 'Kestrel KF').SerialNo);
    assert.deepEqual(backup.Device, answer.Device);
    // A backup of another model is refused before anything is written.
    const foreign = backupText.replace('"Model": "Kestrel KF"', '"Model": "Kestrel KX"');
    await page.locator('#backup-file').setInputFiles({ name: 'kx.json', mimeType: 'application/json',
                                                       buffer: Buffer.from(foreign) });
    await page.getByText('This backup is of a Kestrel KX').waitFor();
    assert.equal((await simulated('kestrel kf')).configWrites, simAfter.configWrites);

    // Every configurable device at once, as `tessera-diag config backup` and `restore` do.
    const capable = (await listed()).filter((d) => d.SupportsConfigs).length;
    const downloads = [];
    page.on('download', (download) => downloads.push(download));
    await page.getByRole('button', { name: /^Save backups of all/ }).click();
    await page.getByText(`Saved ${capable} backups.`).waitFor({ timeout: 20000 });
    await waitFor(() => downloads.length === capable, `${capable} downloads`);
    const kf = downloads.find((download) => download.suggestedFilename() === 'kestrel-kf-2.json');
    assert.deepEqual(JSON.parse(readFileSync(await kf.path(), 'utf8')).Device, answer.Device);
    await page.locator('#restore-files').setInputFiles([await kf.path()]);
    await page.getByText('Restored 1 backup.').waitFor({ timeout: 15000 });
    assert.equal((await simulated('kestrel kf')).configWrites, simAfter.configWrites + 1);
    // A backup of a serial number nobody has is skipped unless restored by model and ID.
    const unknownSerial = { name: 'kestrel-kf-2.json', mimeType: 'application/json',
                            buffer: Buffer.from(readFileSync(await kf.path(), 'utf8').replace(/"SerialNo": "\d+"/, '"SerialNo": "1"')) };
    await page.locator('#restore-files').setInputFiles(unknownSerial);
    await page.getByText('kestrel-kf-2.json: skipped, no listed Kestrel KF has serial number 1').waitFor();
    assert.equal((await simulated('kestrel kf')).configWrites, simAfter.configWrites + 1);
    await page.getByLabel('Restore by model and ID where the serial number is not listed').check();
    await page.locator('#restore-files').setInputFiles(unknownSerial);
    await page.getByText('Restored 1 backup.').waitFor({ timeout: 15000 });
    assert.equal((await simulated('kestrel kf')).configWrites, simAfter.configWrites + 2);

    // A value its field cannot hold is refused before anything is written; the form keeps it.
    const imageBefore = (await simulated('kestrel kf')).configImage;
    const other = page.getByLabel('Custom Param 1', { exact: true });
    await other.fill('4294967296');
    await page.getByRole('button', { name: 'Write to device' }).click();
    await page.getByText('Nothing was written: a value is one its field cannot hold').waitFor({ timeout: 15000 });
    assert.equal(await other.inputValue(), '4294967296');
    const simRefused = await simulated('kestrel kf');
    assert.equal(simRefused.configWrites, simAfter.configWrites + 2);
    assert.equal(simRefused.configImage, imageBefore);

    // A document already in the server's search directory, by name: one with a path is refused
    // by the page without any "setconfig" request; a plain name is written and read back.
    const onServer = (await serverAnswer({ action: 'getconfig', model: 'kestrel kf', id: '2' })).Device;
    onServer.Configs.find((entry) => entry.Type === 'CustomParams').Values['Custom Param 0'] = 4321;
    writeFileSync(join(process.env.TESSERA_SEARCH_DIR, 'kf-2.json'), JSON.stringify(onServer));
    await countRequests(page, 'setconfig');
    const named = page.getByLabel(/^Or a configuration document already on the robot/);
    const byName = page.getByRole('button', { name: "Write the robot's file" });
    await named.fill('../x.json');
    await byName.click();
    await page.getByText('Nothing was sent: "../x.json": the server opens only a file name').waitFor();
    assert.equal(await asked(page, 'setconfig'), 0);
    await named.fill('kf-2.json');
    await byName.click();
    await explained(page, page.getByText('Written from kf-2.json and read back'));
    await page.getByText('written from the file (was 1234)').waitFor();
    assert.equal(await asked(page, 'setconfig'), 1);
    const simNamed = await simulated('kestrel kf');
    assert.equal(simNamed.configImage.slice(2 * 392, 2 * 396), 'e1100000');
    assert.equal(simNamed.configWrites, simAfter.configWrites + 3);
  });

  it('plots while the motor is driven, and the motor stops within 200 ms of letting go', async () => {
    await openDevice(page, 'Kestrel KX (Device ID 1)');
    await openTab(page, 'Live data');
    await page.getByRole('button', { name: 'Stop plotting' }).waitFor();
    await setRange(page.getByLabel(/^Output/), 50);
    const hold = page.getByRole('button', { name: 'Hold to run' });
    await hold.scrollIntoViewIfNeeded();
    const box = await hold.boundingBox();
    // The page's own record of its "control" requests and of the moment the button was let go
    // (a capturing listener runs before the page's own), on the page's clock.
    await page.evaluate(() => {
      window.controlsSent = [];
      const send = window.fetch;
      window.fetch = (url, init) => {
        const query = new URL(url, location.href).searchParams;
        if (query.get('action') === 'control') window.controlsSent.push([performance.now(), query.get('demand0')]);
        return send(url, init);
      };
      for (const type of ['pointerup', 'keyup']) addEventListener(type, () => { window.letGoAt = performance.now(); }, true);
    });
    const recorded = async () => Number((await page.getByText(/values recorded/).innerText()).split(' ')[0]);
    const byMouse = {
      press: () => page.mouse.move(box.x + box.width / 2, box.y + box.height / 2).then(() => page.mouse.down()),
      release: () => page.mouse.up(),
    };
    const bySpace = {
      press: () => hold.focus().then(() => page.keyboard.down(' ')),
      release: () => page.keyboard.up(' '),
    };
    // One run: the motor at half output (and the plot recording meanwhile), then let go. The
    // page sends nothing after its neutral request, and at most the one request that was on
    // its way before it; the stop's delay on the simulated motor.
    const runOnce = async (input) => {
      await input.press();
      await waitFor(async () => Math.abs((await simulated('kestrel kx')).output - 512 / 1023) < 1e-6,
                    'the simulated motor at half output', 5000);
      const atStart = await recorded();
      await waitFor(async () => (await recorded()) > atStart + 20, 'points while driving', 5000);
      // Let go right after seeing it run (a starved page may let the device's time-out stop it
      // for a moment while the points are counted).
      await waitFor(async () => (await simulated('kestrel kx')).output > 0.4, 'the motor running', 5000, 5);
      const released = monotonicMicros();
      await input.release();
      await waitFor(async () => (await simulated('kestrel kx')).output === 0, 'the motor stopped', 2000);
      await waitFor(() => monotonicMicros() > released + 500000, 'half a second to pass');
      const { sent, letGoAt } = await page.evaluate(() => ({ sent: window.controlsSent, letGoAt: window.letGoAt }));
      const after = sent.filter(([at]) => at >= letGoAt).map(([, demand]) => demand);
      assert.deepEqual(after, ['0'], 'one neutral request after letting go, then none');
      return stopDelay(await probe('/output-changes'), released);
    };
    // The delay is the page's and the machine's: a request that a loaded machine delays keeps
    // the motor running for its 90 ms and the device's 100 ms after it. Up to three runs each.
    for (const input of [byMouse, bySpace]) {
      const delays = [];
      while (delays.length < 3 && !delays.some((us) => us <= 200000)) delays.push(await runOnce(input));
      console.log(`stop delays after letting go (us): ${delays}`);
      assert.ok(delays.some((us) => us <= 200000), `stop delays (us): ${delays}`);
    }
    await screenshot(page, 'live-data-desktop');

    // The recording, as CSV, holds the half output the device reported.
    const [csv] = await Promise.all([page.waitForEvent('download'),
                                     page.getByRole('button', { name: 'Export CSV' }).click()]);
    const rows = readFileSync(await csv.path(), 'utf8').trim().split('\n');
    assert.equal(rows[0], 'Ordinal,Time,Channel,Value');
    const outputs = rows.slice(1).map((r) => r.split(',')).filter((r) => r[2] === 'MotorOutput').map((r) => Number(r[3]));
    assert.ok(outputs.some((v) => Math.abs(v - 512 / 1023) < 1e-9), 'half output in the CSV');
    await page.getByRole('button', { name: 'Stop plotting' }).click();
  });

  it('upgrades the firmware with rising progress, then shows the new version', async () => {
    await openTab(page, 'Firmware');
    const file = page.getByLabel('Firmware file (.bfl)');
    // A file for another product: the server refuses it before anything reaches the device.
    await file.setInputFiles(process.env.TESSERA_FOREIGN_BFL_FILE);
    await page.getByText('firmware 30.0, 2 sectors').waitFor();
    await page.getByRole('button', { name: 'Upgrade firmware' }).click();
    await page.getByText(/The upgrade failed: .*\(-202\).*still runs firmware 20\.1/).waitFor({ timeout: 15000 });

    await file.setInputFiles(process.env.TESSERA_BFL_FILE);
    // 64 sectors keep the sector phase long enough for several progress polls on a loaded machine.
    await page.getByText('firmware 21.0, 64 sectors').waitFor();
    // Every value the page's progress bar shows, recorded by the page as it changes.
    await page.evaluate(() => {
      window.progressShown = [];
      new MutationObserver(() => {
        const bar = document.querySelector('progress');
        if (bar && window.progressShown[window.progressShown.length - 1] !== bar.value) window.progressShown.push(bar.value);
      }).observe(document.body, { subtree: true, childList: true, attributes: true, characterData: true });
    });
    // A machine loaded far beyond its cores can starve the simulated device of its sector
    // acknowledgements (-106): the page says so and the user uploads again, as the test does once.
    let shot = false;
    for (let attempt = 1; ; ++attempt) {
      await page.evaluate(() => { window.progressShown = []; });
      await page.getByRole('button', { name: 'Upgrade firmware' }).click();
      await page.getByText(/^Uploading /).waitFor();
      if (attempt === 1) {
        // Another page opened meanwhile follows the running upgrade instead of starting one.
        const other = await openPage(browser, `${pageUrl}#kestrel-kx-1`);
        await openTab(other, 'Firmware');
        await other.getByText('An upgrade is running on the server; following it…').waitFor();
        await other.locator('progress').waitFor();
        await other.context().close();
      }
      const outcome = await waitFor(async () => {
        const percent = await page.evaluate(() => document.querySelector('progress')?.value ?? 0);
        if (!shot && percent > 30 && percent < 90) {
          shot = true;
          await screenshot(page, 'firmware-desktop');
        }
        const text = (await statusText(page)).join(' ');
        if (/now runs firmware 21\.0/.test(text)) return 'done';
        return /failed/.test(text) && text;
      }, 'the upgrade to end', 120000, 100);
      if (outcome === 'done') break;
      if (attempt === 2 || !/\(-10[4-7]\)/.test(outcome)) throw new Error(outcome);
      console.log(`upgrade attempt ${attempt} failed, trying again: ${outcome}`);
    }
    const seen = await page.evaluate(() => window.progressShown);
    assert.ok(seen.filter((v) => v > 0 && v < 100).length >= 3, `progress seen: ${seen}`);
    assert.deepEqual(seen, [...seen].sort((a, b) => a - b), `progress went back: ${seen}`);
    assert.equal((await simulated('kestrel kx')).firmware, '21.0');
    assert.equal((await listed()).find((d) => d.Model === 'Kestrel KX').CurrentVers, '21.0');

    // A file already in the server's search directory, by name: one with a path is refused by
    // the page without any "fieldupgrade" request; a plain name upgrades the device.
    await countRequests(page, 'fieldupgrade');
    const named = page.getByLabel(/^Or a file already on the robot/);
    const byName = page.getByRole('button', { name: "Upgrade from the robot's file" });
    await named.fill('../x.bfl');
    await byName.click();
    await page.getByText('Nothing was sent: "../x.bfl": the server opens only a file name').waitFor();
    assert.equal(await asked(page, 'fieldupgrade'), 0);
    await named.fill(process.env.TESSERA_SERVER_BFL_NAME);
    await byName.click();
    await explained(page, page.getByText('Upgrade done: the device now runs firmware 22.0.'), 60000);
    assert.equal(await asked(page, 'fieldupgrade'), 1);
    assert.equal((await simulated('kestrel kx')).firmware, '22.0');
    assert.equal((await listed()).find((d) => d.Model === 'Kestrel KX').CurrentVers, '22.0');
  });

  it('moves a device to a new ID and follows it there', async () => {
    // A number that a device of the same type holds (a Kestrel KF, for a Kestrel KX) is asked
    // about first; cancelled, the device stays where it is.
    await openTab(page, 'Commands');
    await page.getByLabel(/^New ID/).fill('2');
    await page.getByRole('button', { name: 'Set ID' }).click();
    const clash = page.getByRole('alertdialog');
    await clash.getByText('Kestrel KF (Device ID 2) already has ID 2.').waitFor();
    await clash.getByRole('button', { name: 'Cancel' }).click();
    assert.equal((await simulated('kestrel kx')).number, 1);

    await openDevice(page, 'CANtap (Device ID 6)');
    await page.getByLabel(/^New ID/).fill('9');
    await page.getByRole('button', { name: 'Set ID' }).click();
    await page.getByRole('heading', { level: 2, name: 'CANtap (Device ID 9)' }).waitFor({ timeout: 20000 });
    assert.equal((await simulated('cantap')).number, 9);
    await waitFor(async () => (await listed()).some((d) => d.Model === 'CANtap' && d.ID === 9),
                  'the server listing the CANtap at 9', 10000);
  });

  it('works at phone width, and every control has a name', async () => {
    const phone = await openPage(browser, `${pageUrl}#kestrel-kx-1`, kPhone);
    await phone.getByRole('heading', { level: 2, name: 'Kestrel KX (Device ID 1)' }).waitFor({ timeout: 15000 });
    const overflow = await phone.evaluate(() => document.documentElement.scrollWidth - innerWidth);
    assert.ok(overflow <= 0, `the page is ${overflow} px wider than the phone`);
    await screenshot(phone, 'panel-phone');
    for (const tab of ['Commands', 'Self-test', 'Configuration', 'Firmware', 'Live data']) {
      await openTab(phone, tab);
      await phone.waitForTimeout(300);
      assert.deepEqual(await unnamedControls(phone), [], `unnamed controls on ${tab}`);
    }
    await screenshot(phone, 'live-data-phone');
    assert.ok((await namesOfRole(phone, 'tab')).includes('Configuration'));
    assert.deepEqual(phone.problems, []);
    assert.deepEqual(page.problems, []);
  });
});
