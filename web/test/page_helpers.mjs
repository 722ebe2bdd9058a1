// What the Chromium tests need to know about the page: how to start the browser, open a
// device, reach a control by keyboard, and read the browser's own accessibility tree.
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

export const kDesktop = { width: 1280, height: 860 };
export const kPhone = { width: 390, height: 844 };

// Debian's Chromium, never a downloaded one, with nothing that reaches out to the network.
// Playwright gives it a new, empty profile folder of its own.
export function launchBrowser(executablePath = process.env.TESSERA_CHROMIUM || '/usr/bin/chromium') {
  return chromium.launch({
    executablePath,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// A page that fails its test on any script error or console error.
export async function openPage(browser, url, viewport = kDesktop) {
  const context = await browser.newContext({ viewport, acceptDownloads: true });
  const page = await context.newPage();
  page.problems = [];
  page.on('pageerror', (error) => page.problems.push(`page error: ${error.message}`));
  page.on('console', (message) => {
    if (message.type() === 'error') page.problems.push(`console: ${message.text()}`);
  });
  await page.goto(url);
  return page;
}

// Polls `condition` (async allowed) until it returns a truthy value; that value. Fails with
// `what` after `deadlineMs`.
export async function waitFor(condition, what, deadlineMs = 15000, periodMs = 50) {
  const end = Date.now() + deadlineMs;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out after ${deadlineMs} ms waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, periodMs));
  }
}

export const deviceRows = (page) => page.locator('section.devices tbody tr');

export async function openDevice(page, name) {
  await page.getByRole('button', { name, exact: true }).click();
  await page.getByRole('heading', { level: 2, name, exact: true }).waitFor();
}

export async function openTab(page, name) {
  await page.getByRole('tab', { name, exact: true }).click();
  await page.getByRole('tabpanel').waitFor();
}

// Presses Tab until the control with `role` and `name` has the focus; fails after `limit`
// presses.
export async function tabTo(page, role, name, limit = 80) {
  const target = page.getByRole(role, { name, exact: true });
  for (let i = 0; i < limit; ++i) {
    await page.keyboard.press('Tab');
    if (await target.evaluate((element) => element === document.activeElement).catch(() => false)) return;
  }
  throw new Error(`Tab never reached the ${role} "${name}"`);
}

async function axTree(page) {
  const session = await page.context().newCDPSession(page);
  try {
    const { nodes } = await session.send('Accessibility.getFullAXTree');
    return nodes;
  } finally {
    await session.detach();
  }
}

const roleOf = (node) => node.role?.value ?? '';
const nameOf = (node) => node.name?.value ?? '';

const kControls = ['button', 'checkbox', 'textbox', 'spinbutton', 'combobox', 'slider', 'tab',
                   'link', 'radio', 'switch', 'searchbox', 'progressbar'];

// The controls the browser's accessibility tree exposes without a name: a screen reader would
// announce them only by their role.
export async function unnamedControls(page) {
  return (await axTree(page))
    .filter((node) => !node.ignored && kControls.includes(roleOf(node)) && !nameOf(node).trim())
    .map((node) => `${roleOf(node)} (backend node ${node.backendDOMNodeId})`);
}

// The names of the accessibility tree's nodes of `role`.
export async function namesOfRole(page, role) {
  return (await axTree(page)).filter((n) => !n.ignored && roleOf(n) === role).map(nameOf);
}

// Sets a range input as a user dragging it would: the value, then the input event.
export async function setRange(locator, value) {
  await locator.evaluate((input, v) => {
    input.value = String(v);
    input.dispatchEvent(new Event('input', { bubbles: true }));
  }, value);
}

export async function screenshot(page, name) {
  const folder = process.env.TESSERA_SCREENSHOT_DIR;
  if (!folder) return;
  mkdirSync(folder, { recursive: true });
  await page.screenshot({ path: join(folder, `${name}.png`) });
}
