#!/usr/bin/env node
// Saves pictures of one transcript page for the README, in headless Chromium:
// DIR/page-light.png and DIR/page-dark.png, 800 px wide and as tall as the
// page, in the light and dark colour schemes, and DIR/page-phone.png, the
// first screen of a 360 x 640 phone in the light scheme.
//
// Usage: node screenshots.js PAGE DIR
'use strict';

const fs = require('fs');
const path = require('path');
const { pathToFileURL } = require('url');
const puppeteer = require('puppeteer-core');

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const STEP_MS = 60000;

async function shoot(browser, url, file, viewport, scheme, fullPage) {
  const tab = await browser.newPage();
  try {
    tab.setDefaultTimeout(STEP_MS);
    await tab.setViewport(viewport);
    await tab.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
    await tab.goto(url, { waitUntil: 'load', timeout: STEP_MS });
    await tab.evaluate(() => document.fonts.ready.then(() => true));
    await tab.screenshot({ path: file, fullPage });
    console.log(`Saved ${file}`);
  } finally {
    await tab.close();
  }
}

async function main() {
  const [page, dir] = process.argv.slice(2);
  if (!page || !dir || process.argv.length > 4) {
    console.error('Usage: node screenshots.js PAGE DIR');
    process.exit(2);
  }
  if (!fs.existsSync(page)) {
    console.error(`screenshots.js: ${page}: not found`);
    process.exit(2);
  }
  fs.mkdirSync(dir, { recursive: true });
  const url = pathToFileURL(path.resolve(page)).href;
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-dev-shm-usage'],
    timeout: STEP_MS,
    protocolTimeout: STEP_MS,
  });
  try {
    // A short window, so that the full-page picture is as tall as the text.
    const desktop = { width: 800, height: 200 };
    await shoot(browser, url, path.join(dir, 'page-light.png'), desktop, 'light', true);
    await shoot(browser, url, path.join(dir, 'page-dark.png'), desktop, 'dark', true);
    const phone = { width: 360, height: 640, deviceScaleFactor: 1, isMobile: true, hasTouch: true };
    await shoot(browser, url, path.join(dir, 'page-phone.png'), phone, 'light', false);
  } finally {
    await browser.close();
  }
}

main().catch((error) => {
  console.error(`screenshots.js: ${error.stack || error}`);
  process.exit(1);
});
