// The dashboard in headless Chromium against the demo lab on the simulator:
//   node dashboard_browser_test.mjs <source dir> <build dir>
// Starts krb-sim and KRBServer on a copy of examples/demo-lab, drives the lab through the
// simulator's control socket and the server's protocol port, and watches the page.
import { spawn } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import { chromium } from "playwright-core";

const [sourceDir, buildDir] = process.argv.slice(2);
const chromiumPath = process.env.KRB_CHROMIUM || "/usr/bin/chromium";
const timeScale = process.env.KRB_TIME_SCALE || "0.1";
const work = fs.mkdtempSync(path.join(os.tmpdir(), "krb-dashboard-"));
const labDir = path.join(work, "lab");
const portDir = path.join(work, "ports");
const children = [];
let failures = 0;

function check(condition, what) {
  console.log(`${condition ? "ok  " : "FAIL"} ${what}`);
  if (!condition) failures += 1;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on("error", reject);
    server.listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// Starts a program; resolves with the first stdout line that matches `ready`.
function start(program, args, options, ready) {
  const child = spawn(program, args, { ...options, stdio: ["ignore", "pipe", "pipe"] });
  children.push(child);
  let output = "";
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${program} not ready:\n${output}`)), 60000);
    const onData = chunk => {
      output += chunk;
      const match = output.match(ready);
      if (match) { clearTimeout(timer); resolve(match); }
    };
    child.stdout.on("data", onData);
    child.stderr.on("data", chunk => { output += chunk; });
    child.on("exit", code => reject(new Error(`${program} ended (${code}):\n${output}`)));
  });
}

// One line-oriented exchange: sends `text`, resolves with what came back up to `until`.
function exchange(connectOptions, text, until, limitMs = 120000) {
  return new Promise((resolve, reject) => {
    const socket = net.createConnection(connectOptions);
    let received = "";
    const timer = setTimeout(() => { socket.destroy(); reject(new Error(`no reply to ${text}`)); }, limitMs);
    socket.on("connect", () => socket.write(text));
    socket.on("data", chunk => {
      received += chunk;
      if (until.test(received)) { clearTimeout(timer); socket.end(); resolve(received); }
    });
    socket.on("error", error => { clearTimeout(timer); reject(error); });
  });
}

let protocolPort = 0;
const ask = command => exchange({ host: "127.0.0.1", port: protocolPort }, command + "\r", /\r\n/);
const control = line =>
  exchange({ path: path.join(portDir, "krb-sim.control") }, line + "\n", /^(OK|ERR).*\n/m);

async function expectControl(line) {
  const reply = await control(line);
  check(/^OK/m.test(reply), `simulator: ${line}`);
}

// Strict enough for the exposition format: comments, or name{labels} value.
function parseMetrics(text) {
  const samples = new Map();
  const sample = /^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{(?:[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\["\\n])*",?)*\})? ([-+]?(?:[0-9.eE+-]+|Inf|NaN))$/;
  const bad = [];
  for (const line of text.split("\n")) {
    if (line === "" || /^# (HELP|TYPE) /.test(line)) continue;
    const match = line.match(sample);
    if (!match) { bad.push(line); continue; }
    samples.set(match[1] + (match[2] || ""), Number(match[3]));
  }
  return { samples, bad };
}

function sumOf(metrics, prefix, mustInclude = "") {
  let total = 0;
  for (const [key, value] of metrics.samples) {
    if (key.startsWith(prefix) && key.includes(mustInclude)) total += value;
  }
  return total;
}

function unitIdsOf(lab) {
  const ids = [];
  for (const system of fs.readdirSync(path.join(lab, "Lab"))) {
    const folder = path.join(lab, "Lab", system);
    for (const file of fs.readdirSync(folder).filter(f => /^Unit\d+\.lni$/.test(f))) {
      const match = fs.readFileSync(path.join(folder, file), "latin1").match(/^UnitId=(.*?)\r?$/m);
      if (match) ids.push(match[1].trim());
    }
  }
  return ids;
}

function locationOf(contentsFile, cassette, level) {
  for (const line of fs.readFileSync(contentsFile, "latin1").split(/\r?\n/)) {
    const fields = line.split(",");
    if (fields[1] === String(cassette) && fields[2] === String(level)) return fields[0];
  }
  throw new Error(`no location for cassette ${cassette} level ${level}`);
}

const cell = (unit, cassette, level) =>
  `.level[data-unit="${unit}"][data-cassette="${cassette}"][data-level="${level}"]`;

async function main() {
  fs.cpSync(path.join(sourceDir, "examples", "demo-lab"), labDir, { recursive: true });
  fs.mkdirSync(portDir);
  protocolPort = await freePort();
  const webPort = await freePort();
  const config = path.join(labDir, "DriverConfig.lni");
  const original = fs.readFileSync(config, "latin1").replace(/^\[Web\][^[]*/m, "");
  fs.writeFileSync(config, original.replace(/^port=\d+/m, `port=${protocolPort}`) +
    `\r\n[Web]\r\nPort=${webPort}\r\n`);

  const env = { ...process.env, KRB_PORT_DIR: portDir, KRB_TIME_SCALE: timeScale };
  await start(path.join(buildDir, "sim", "krb-sim"), ["--port-dir", portDir, config],
              { env }, /^ready/m);
  const [, dashboard] = await start(path.join(buildDir, "server", "KRBServer"),
                                    ["--headless", config, "start"], { env, cwd: labDir },
                                    /KRBServer dashboard on (http:\/\/\S+)/);
  console.log(`dashboard at ${dashboard}`);

  const browser = await chromium.launch({ executablePath: chromiumPath, headless: true,
                                          args: ["--no-sandbox"] });
  try {
    const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
    await page.goto(dashboard);
    const navigations = [];  // the page must follow the lab without being loaded again
    page.on("framenavigated", frame => navigations.push(frame.url()));
    await page.waitForSelector("#status.live", { timeout: 10000 });
    for (const id of unitIdsOf(labDir)) {
      check(await page.locator(`article.unit[data-unit="${id}"]`).count() === 1, `unit ${id} is shown`);
    }

    const metricsBefore = parseMetrics(await (await fetch(dashboard + "metrics")).text());
    check(metricsBefore.bad.length === 0, `/metrics parses (${metricsBefore.bad.slice(0, 3).join(" | ")})`);

    const activation = await ask("KRB2Activate(Store4)");
    check(/^1;/.test(activation), `KRB2Activate(Store4) succeeds (got ${JSON.stringify(activation)})`);

    // The plate goes from cassette 1 level 1 to cassette 2 level 2 in the simulated unit; the
    // scheduler that moved it tells the server, which is what the contents file follows.
    const contents = path.join(labDir, "Lab", "System2", "Unit4Contents.csv");
    const from = locationOf(contents, 1, 1);
    const to = locationOf(contents, 2, 2);
    check(await page.locator(cell("Store4", 2, 2)).getAttribute("data-present") === "0",
          "cassette 2 level 2 starts empty");
    await expectControl("TAKE COM4 1 1");
    await expectControl("PUT COM4 2 2 R0001");
    for (const command of [`UpdatePlatePP(Store4,${from},0)`, `UpdatePlateBCR(Store4,${from},)`,
                           `UpdatePlatePP(Store4,${to},1)`, `UpdatePlateBCR(Store4,${to},R0001)`]) {
      check((await ask(command)).trim() === "1", `${command} answers 1`);
    }
    // How fast is measured by bench/web (bench_dashboard); here only that it comes, unasked.
    const told = Date.now();
    await page.waitForSelector(`${cell("Store4", 2, 2)}[data-present="1"][title*="R0001"]`,
                               { timeout: 30000 });
    await page.waitForSelector(`${cell("Store4", 1, 1)}[data-present="0"]`, { timeout: 30000 });
    check(navigations.length === 0,
          `the moved plate shows in its new level without a reload (after ${Date.now() - told} ms)`);

    // A motion that fails on the unit: the page shows the code's message, not only the code.
    await expectControl("FAULT COM4 error 1203");
    await ask("KRB2ServiceMovePlate(Store4,2,2,2,0,0,Store4,2,2,5,0,0)");
    const expected = "Motor Movement TimeOut Error during Import Plate Operation at step #2.";
    const shown = await page.waitForFunction(
      () => document.querySelector('article[data-unit="Store4"] [data-role="error-message"]')?.textContent,
      null, { timeout: 15000 });
    const message = await shown.jsonValue();
    check(message === expected, `the unit's error shows decoded: ${message}`);
    check(await page.textContent('article[data-unit="Store4"] [data-role="link"]') === "link up",
          "the unit's serial link shows up");

    await expectControl("FAULT COM4 door open");
    await page.waitForFunction(
      () => document.querySelector('article[data-unit="Store4"] [data-role="door"]')?.textContent === "door open",
      null, { timeout: 15000 });
    check(true, "the opened door shows as open");

    // A unit without a door shows as having none.
    check(/^1/.test(await ask("KRB2Activate(Cascader1)")), "KRB2Activate(Cascader1) succeeds");
    await page.waitForFunction(
      () => document.querySelector('article[data-unit="Cascader1"] [data-role="door"]')?.textContent === "no door",
      null, { timeout: 15000 });
    check(true, "the cascader shows no door");

    // A controller that stops answering is shown so, with its climate unknown.
    check(/^1/.test(await ask("KRB2Activate(Ext1)")), "KRB2Activate(Ext1) succeeds");
    await expectControl("FAULT COM3 silent");
    check((await ask("KRB2ReadErrorFlag(Ext1)")).trim() === "-1", "the silent unit's read fails");
    await page.waitForFunction(
      () => document.querySelector('article[data-unit="Ext1"] [data-role="link"]')?.textContent === "not answering",
      null, { timeout: 30000 });
    check(true, "the silent unit shows as not answering");
    check(await page.textContent('article[data-unit="Ext1"] [data-role="error"]') === "error unknown",
          "its error state shows as unknown");

    await page.waitForFunction(
      () => /^Climate: temperature \S+/.test(
        document.querySelector('article[data-unit="Store4"] .climate')?.textContent ?? ""),
      null, { timeout: 15000 });
    check(true, `the activated unit's climate shows: ${await page.textContent('article[data-unit="Store4"] .climate')}`);

    // The audit trail kept the updates: the plate search shows the barcode's journey.
    await page.fill("#journey-plate", "R0001");
    await page.click("#journey-form button");
    await page.waitForSelector("#journey-rows tr", { timeout: 15000 });
    const journey = await page.textContent("#journey-rows");
    check(journey.includes("UpdatePlateBCR(" + to + ",R0001)") && journey.includes("update"),
          `the plate search shows the update that gave R0001 its place: ${journey.slice(0, 200)}`);

    const name = "<b>&x";
    check((await ask(`UpdatePlateName(Store4,${to},${name})`)).trim() === "1", "UpdatePlateName answers 1");
    await page.waitForSelector(`${cell("Store4", 2, 2)}[title*="name <b>&x"]`, { timeout: 30000 });
    await page.hover(cell("Store4", 2, 2));
    const details = await page.textContent("#details");
    check(details.includes("name <b>&x"), `the plate name shows as text: ${details}`);
    check(await page.locator("#lab b, #details b").count() === 0, "no markup was made of it");

    const screenshots = path.join(buildDir, "screenshots");
    fs.mkdirSync(screenshots, { recursive: true });
    await page.screenshot({ path: path.join(screenshots, "dashboard.png"), fullPage: true });
    await page.setViewportSize({ width: 820, height: 1180 });  // a tablet held upright
    await page.screenshot({ path: path.join(screenshots, "dashboard-tablet.png"), fullPage: true });
    console.log(`screenshots: ${path.join(screenshots, "dashboard.png")}, dashboard-tablet.png`);

    const metricsAfter = parseMetrics(await (await fetch(dashboard + "metrics")).text());
    check(metricsAfter.bad.length === 0, "/metrics still parses");
    const moved = (prefix, include) =>
      sumOf(metricsAfter, prefix, include) - sumOf(metricsBefore, prefix, include);
    // Store4, Cascader1 and Ext1 were activated.
    check(moved("krb_commands_total{", 'command="KRB2Activate",result="ok"') === 3,
          "krb_commands_total counted the activations");
    check(moved("krb_command_duration_seconds_count{", 'command="KRB2Activate"') === 3,
          "the command latency histogram counted them");
    check(moved("krb_link_exchanges_total{", 'unit="Store4"') > 0, "Store4's exchanges were counted");
    check(moved("krb_contents_file_writes_total", "") >= 5, "contents-file writes were counted");
    check(sumOf(metricsAfter, "krb_unit_door_open{", 'unit="Store4"') === 1, "the door gauge reads open");
    const keys = (prefix, include) =>
      [...metricsAfter.samples.keys()].filter(key => key.startsWith(prefix) && key.includes(include));
    check(keys("krb_unit_door_open{", 'unit="Cascader1"').length === 0, "the cascader has no door gauge");
    check(keys("krb_link_up{", 'unit="Ext1"').length === 1 &&
          sumOf(metricsAfter, "krb_link_up{", 'unit="Ext1"') === 0, "the silent unit's link reads 0");

    // The server goes away: the page says so.
    const server = children[1];
    server.kill("SIGINT");
    await page.waitForSelector("#status.unreachable", { timeout: 10000 });
    check((await page.textContent("#status")) === "server unreachable", "the page shows the server unreachable");
  } finally {
    await browser.close();
  }
}

try {
  await main();
} catch (error) {
  console.log(`FAIL ${error.stack || error}`);
  failures += 1;
} finally {
  for (const child of children.reverse()) {
    if (child.exitCode === null) child.kill("SIGINT");
  }
  await new Promise(resolve => setTimeout(resolve, 500));
  fs.rmSync(work, { recursive: true, force: true });
}
console.log(failures === 0 ? "dashboard browser test passed" : `${failures} check(s) failed`);
process.exit(failures === 0 ? 0 : 1);
