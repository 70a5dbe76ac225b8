#!/usr/bin/env node
// Checks transcript pages (NAME.html) the way readers meet them:
//  - in headless Chromium, once with the light and once with the dark colour
//    scheme: axe-core (every rule it runs by default: WCAG 2.x A and AA, and
//    its best practices), no horizontal scroll at a phone's width, the dark
//    scheme really dark and the printout dark on white, no script and no
//    request for anything but the page itself;
//  - with the Nu HTML Checker (vnu.jar): no error and no warning, except its
//    guess that the text is in another language than the page's lang, for the
//    pages whose lang was not known and is the converter's fallback.
// One browser and one checker process serve every page; the checker runs
// while the browser works.
//
// Usage: node check_pages.js [--fallback-lang LIST] PATH...
// Each PATH is a page or a folder searched (with its subfolders) for *.html.
// LIST names the pages whose lang is a fallback, one a line; a relative path
// is taken from the folder LIST is in; blank lines and lines starting with #
// are skipped.
// Prints one line per page (ok or FAIL, with what failed below it) and last
// "Web pages: N passed, N failed". Exits 0 when every page passed, 1 when one
// did not, 2 on a usage error.
'use strict';

const fs = require('fs');
const path = require('path');
const { spawn } = require('child_process');
const { pathToFileURL, fileURLToPath } = require('url');
const puppeteer = require('puppeteer-core');

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const JAVA = process.env.JAVA || 'java';
const VNU_JAR = path.join(__dirname, 'node_modules', 'vnu-jar', 'build', 'dist', 'vnu.jar');
const AXE_SOURCE = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const AXE_VERSION = require('axe-core/package.json').version;

// Any single step (start, load, one axe run) that takes longer has hung.
const STEP_MS = 60000;
const CHECKER_MS = 240000;
const DESKTOP = { width: 1280, height: 800 };
const PHONE = { width: 360, height: 640, deviceScaleFactor: 2, isMobile: true, hasTouch: true };
const SCHEMES = ['light', 'dark'];
// The Nu checker's guess at the language of the text, as it opens its warning
// that the lang says otherwise (it guesses from 1024 characters of text on).
const LANGUAGE_GUESS = 'This document appears to be written in';

function usage(message) {
  process.stderr.write(`check_pages.js: ${message}\n` +
    'Usage: node check_pages.js [--fallback-lang LIST] PATH...\n');
  process.exit(2);
}

function parseArguments(argv) {
  const options = { fallbackList: null, paths: [] };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--fallback-lang') {
      if (i + 1 >= argv.length) usage('--fallback-lang needs a file');
      options.fallbackList = argv[++i];
    } else if (argv[i].startsWith('--')) {
      usage(`unknown option ${argv[i]}`);
    } else {
      options.paths.push(argv[i]);
    }
  }
  if (options.paths.length === 0) usage('no page or folder given');
  return options;
}

// Every *.html file under a folder, sorted, or the file itself.
function findPages(start) {
  let stat;
  try {
    stat = fs.statSync(start);
  } catch (error) {
    usage(`${start}: ${error.code === 'ENOENT' ? 'not found' : error.message}`);
  }
  if (!stat.isDirectory()) return [fs.realpathSync(start)];
  const found = [];
  const walk = (folder) => {
    const entries = fs.readdirSync(folder, { withFileTypes: true })
      .sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
    for (const entry of entries) {
      const full = path.join(folder, entry.name);
      if (entry.isDirectory()) {
        if (entry.name !== 'node_modules') walk(full);
      } else if (entry.isFile() && entry.name.endsWith('.html')) {
        found.push(fs.realpathSync(full));
      }
    }
  };
  walk(start);
  if (found.length === 0) usage(`${start}: no *.html page in this folder`);
  return found;
}

function readFallbackList(listPath, pages) {
  const fallback = new Set();
  if (!listPath) return fallback;
  let text;
  try {
    text = fs.readFileSync(listPath, 'utf8');
  } catch (error) {
    usage(`${listPath}: ${error.message}`);
  }
  const base = path.dirname(path.resolve(listPath));
  for (const raw of text.split('\n')) {
    const line = raw.trim();
    if (line === '' || line.startsWith('#')) continue;
    const full = path.resolve(base, line);
    const real = fs.existsSync(full) ? fs.realpathSync(full) : full;
    if (!pages.includes(real)) usage(`${listPath}: ${line} is not one of the pages checked`);
    fallback.add(real);
  }
  return fallback;
}

// Runs the Nu HTML Checker once over every page. Resolves to a map from page
// to its findings, and a list of findings that name no page.
function runNuChecker(pages, fallback) {
  return new Promise((resolve) => {
    const byPage = new Map(pages.map((page) => [page, []]));
    const general = [];
    const args = ['-jar', VNU_JAR, '--format', 'json', '--stdout', '--exit-zero-always', ...pages];
    const checker = spawn(JAVA, args, { stdio: ['ignore', 'pipe', 'pipe'], timeout: CHECKER_MS, killSignal: 'SIGKILL' });
    let out = '';
    let err = '';
    checker.stdout.on('data', (chunk) => { out += chunk; });
    checker.stderr.on('data', (chunk) => { err += chunk; });
    checker.on('error', (error) => {
      general.push(`Nu checker: could not start ${JAVA}: ${error.message}`);
    });
    checker.on('close', (code, signal) => {
      if (signal) {
        general.push(`Nu checker: stopped by ${signal}` +
          (signal === 'SIGKILL' ? ` after ${CHECKER_MS / 1000} s` : ''));
        return resolve({ byPage, general });
      }
      let report;
      try {
        report = JSON.parse(out);
      } catch (error) {
        general.push(`Nu checker: exit status ${code}, output not JSON: ${(err || out).trim().slice(0, 2000)}`);
        return resolve({ byPage, general });
      }
      for (const message of report.messages || []) {
        const isWarning = message.type === 'info' && message.subType === 'warning';
        const isError = message.type === 'error' || message.type === 'non-document-error';
        if (!isWarning && !isError) continue;
        let page = null;
        try {
          page = message.url ? fileURLToPath(message.url) : null;
        } catch (error) {
          page = null;
        }
        if (isWarning && page && fallback.has(page) && message.message.startsWith(LANGUAGE_GUESS) &&
            message.message.includes(' but the ')) continue;
        const where = message.lastLine ? ` at line ${message.lastLine}` +
          (message.lastColumn ? `, column ${message.lastColumn}` : '') : '';
        const text = `Nu checker: ${isWarning ? 'warning' : message.type}${where}: ${message.message}`;
        if (page && byPage.has(page)) byPage.get(page).push(text);
        else general.push(`${text}${message.url ? ` (${message.url})` : ''}`);
      }
      resolve({ byPage, general });
    });
  });
}

// Relative luminance and contrast ratio of CSS rgb()/rgba() colours (WCAG 2.x).
function parseColour(css) {
  const match = /rgba?\(([^)]*)\)/.exec(css);
  if (!match) return null;
  const values = match[1].split(/[\s,/]+/).filter(Boolean).map(Number);
  return { r: values[0], g: values[1], b: values[2], a: values.length > 3 ? values[3] : 1 };
}
function luminance(colour) {
  const channel = (value) => {
    const c = value / 255;
    return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
  };
  return 0.2126 * channel(colour.r) + 0.7152 * channel(colour.g) + 0.0722 * channel(colour.b);
}
function contrast(a, b) {
  const [high, low] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return (high + 0.05) / (low + 0.05);
}

// Computed colours the checks below need, read in the page, each as
// rgba(r, g, b, a) whatever notation the style sheet used.
function readColours() {
  const context = document.createElement('canvas').getContext('2d', { willReadFrequently: true });
  const rgba = (css) => {
    context.clearRect(0, 0, 1, 1);
    context.fillStyle = css;
    context.fillRect(0, 0, 1, 1);
    const [r, g, b, a] = context.getImageData(0, 0, 1, 1).data;
    return `rgba(${r}, ${g}, ${b}, ${a / 255})`;
  };
  const opaque = (colour) => !colour.endsWith(', 0)');
  const colourOf = (element, property) => rgba(getComputedStyle(element)[property]);
  const canvasProbe = document.createElement('div');
  canvasProbe.style.backgroundColor = 'Canvas';
  document.documentElement.appendChild(canvasProbe);
  const canvas = colourOf(canvasProbe, 'backgroundColor');
  canvasProbe.remove();
  const html = colourOf(document.documentElement, 'backgroundColor');
  const body = colourOf(document.body, 'backgroundColor');
  const elements = [document.body, ...document.body.querySelectorAll('*')];
  return {
    background: opaque(body) ? body : opaque(html) ? html : canvas,
    text: colourOf(document.body, 'color'),
    texts: [...new Set(elements.map((element) => colourOf(element, 'color')))],
    backgrounds: [...new Set([document.documentElement, ...elements]
      .map((element) => colourOf(element, 'backgroundColor')).filter(opaque))],
  };
}

async function emulateScheme(tab, scheme) {
  await tab.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
  const applied = await tab.evaluate((s) => matchMedia(`(prefers-color-scheme: ${s})`).matches, scheme);
  if (!applied) throw new Error(`the browser did not take the ${scheme} colour scheme`);
}

async function load(tab, url) {
  const response = await tab.goto(url, { waitUntil: 'load', timeout: STEP_MS });
  if (response && !response.ok()) throw new Error(`loading gave status ${response.status()}`);
  await tab.evaluate(() => document.fonts.ready.then(() => true));
}

function describeAxe(kind, scheme, result) {
  const lines = [];
  for (const node of result.nodes) {
    const summary = (node.failureSummary || '').split('\n').map((s) => s.trim())
      .filter((s) => s && !/^Fix (any|all)/.test(s)).join(' ');
    lines.push(`axe, ${scheme} scheme: ${kind}${result.id} [${result.impact || node.impact || 'no impact given'}] ` +
      `on ${JSON.stringify(node.target)}: ${result.help}${summary ? ` (${summary})` : ''}`);
  }
  if (result.nodes.length === 0) {
    lines.push(`axe, ${scheme} scheme: ${kind}${result.id} [${result.impact || 'no impact given'}]: ${result.help}`);
  }
  return lines;
}

async function checkPage(browser, page) {
  const findings = [];
  const url = pathToFileURL(page).href;
  const tab = await browser.newPage();
  tab.setDefaultTimeout(STEP_MS);
  tab.setDefaultNavigationTimeout(STEP_MS);
  try {
    // The page stands alone: any request beyond the page itself is a fault,
    // and is stopped before it goes out.
    await tab.setRequestInterception(true);
    tab.on('request', (request) => {
      const requested = request.url().split('#')[0];
      if (requested === url || requested.startsWith('data:')) {
        request.continue();
      } else {
        findings.push(`requests ${requested.slice(0, 200)} (a page needs nothing beside itself)`);
        request.abort();
      }
    });
    tab.on('pageerror', (error) => findings.push(`script error: ${error.message}`));

    // At a phone's width, in each scheme: laid out at that width (the viewport
    // meta) and no wider.
    await tab.setViewport(PHONE);
    await load(tab, url);
    for (const scheme of SCHEMES) {
      await emulateScheme(tab, scheme);
      const width = await tab.evaluate(() => ({
        scroll: document.documentElement.scrollWidth,
        client: document.documentElement.clientWidth,
      }));
      if (width.client !== PHONE.width) {
        findings.push(`phone width, ${scheme} scheme: laid out ${width.client} px wide on a ${PHONE.width} px ` +
          'screen (is the viewport meta missing?)');
      }
      if (width.scroll > width.client) {
        findings.push(`phone width, ${scheme} scheme: scrolls sideways, ${width.scroll} px of content ` +
          `in ${width.client} px`);
      }
    }

    // On a desktop screen: no script, then axe in each scheme, and the colours.
    await tab.setViewport(DESKTOP);
    await load(tab, url);
    const scripts = await tab.evaluate(() => document.querySelectorAll('script').length);
    if (scripts > 0) findings.push(`has ${scripts} script element(s) (a page has no script)`);
    await tab.evaluate(AXE_SOURCE);
    const colours = {};
    for (const scheme of SCHEMES) {
      await emulateScheme(tab, scheme);
      const results = await tab.evaluate(() => axe.run(document, { resultTypes: ['violations', 'incomplete'] }));
      for (const result of results.violations) findings.push(...describeAxe('', scheme, result));
      // What axe could not decide (a contrast over an image, say) is not
      // known to pass either.
      for (const result of results.incomplete) findings.push(...describeAxe('undecided ', scheme, result));
      colours[scheme] = await tab.evaluate(readColours);
    }
    const light = colours.light;
    const dark = colours.dark;
    const lightText = parseColour(light.text);
    const lightBackground = parseColour(light.background);
    const darkText = parseColour(dark.text);
    const darkBackground = parseColour(dark.background);
    if (!(lightText && lightBackground && luminance(lightBackground) > luminance(lightText))) {
      findings.push(`light scheme: text ${light.text} is not dark on a light background ${light.background}`);
    }
    if (!(darkText && darkBackground && luminance(darkBackground) < luminance(darkText))) {
      findings.push(`dark scheme: text ${dark.text} is not light on a dark background ${dark.background}`);
    }

    // Printed, even from a browser set to the dark scheme: dark text on white.
    // (One call sets both: puppeteer's emulateMediaType would drop the scheme.)
    const session = await tab.createCDPSession();
    await session.send('Emulation.setEmulatedMedia', {
      media: 'print',
      features: [{ name: 'prefers-color-scheme', value: 'dark' }],
    });
    const printing = await tab.evaluate(() => matchMedia('print and (prefers-color-scheme: dark)').matches);
    if (!printing) throw new Error('the browser did not take print media with the dark scheme');
    const printed = await tab.evaluate(readColours);
    const white = { r: 255, g: 255, b: 255, a: 1 };
    for (const background of printed.backgrounds) {
      const colour = parseColour(background);
      if (!colour || luminance(colour) < 0.99) findings.push(`print: background ${background}, not white`);
    }
    for (const text of printed.texts) {
      const colour = parseColour(text);
      if (!colour || contrast(colour, white) < 7) {
        findings.push(`print: text ${text} is not dark on white (contrast under 7:1)`);
      }
    }
  } catch (error) {
    findings.push(`browser: ${error.message.split('\n')[0]}`);
  } finally {
    await tab.close().catch(() => {});
  }
  return [...new Set(findings)];
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  const pages = [...new Set(options.paths.flatMap(findPages))];
  const fallback = readFallbackList(options.fallbackList, pages);
  if (!fs.existsSync(VNU_JAR)) usage(`${VNU_JAR} is missing: run npm ci in ${__dirname}`);

  const started = Date.now();
  const checker = runNuChecker(pages, fallback);
  const browserFindings = new Map();
  const general = [];
  let browser = null;
  try {
    browser = await puppeteer.launch({
      executablePath: CHROMIUM,
      headless: true,
      args: ['--no-sandbox', '--disable-dev-shm-usage', '--allow-file-access-from-files'],
      timeout: STEP_MS,
      protocolTimeout: STEP_MS,
    });
    for (const page of pages) browserFindings.set(page, await checkPage(browser, page));
  } catch (error) {
    general.push(`browser: could not run ${CHROMIUM}: ${error.message.split('\n')[0]}`);
  } finally {
    if (browser) await browser.close().catch(() => {});
  }
  const nu = await checker;
  general.push(...nu.general);

  let passed = 0;
  let failed = 0;
  const shown = (page) => {
    const relative = path.relative(process.cwd(), page);
    return relative.startsWith('..') ? page : relative;
  };
  for (const page of pages) {
    const findings = [...(browserFindings.get(page) || ['browser: not checked']), ...nu.byPage.get(page)];
    const note = fallback.has(page) ? ' (lang is a fallback)' : '';
    if (findings.length === 0) {
      passed++;
      console.log(`ok    ${shown(page)}${note}`);
    } else {
      failed++;
      console.log(`FAIL  ${shown(page)}${note}`);
      for (const finding of findings) console.log(`      ${finding}`);
    }
  }
  for (const finding of general) console.log(`FAIL  ${finding}`);
  const seconds = ((Date.now() - started) / 1000).toFixed(1);
  console.log(`Checked ${pages.length} page(s) in ${seconds} s: axe-core ${AXE_VERSION} in ${CHROMIUM} ` +
    `(light and dark schemes, ${PHONE.width} px phone width, print), and the Nu HTML Checker`);
  if (general.length > 0 && failed === 0) {
    // A finding that names no page still fails the run.
    failed = pages.length;
    passed = 0;
  }
  console.log(`Web pages: ${passed} passed, ${failed} failed`);
  process.exit(failed > 0 ? 1 : 0);
}

main().catch((error) => {
  console.error(`check_pages.js: ${error.stack || error}`);
  process.exit(1);
});
