// The dashboard page. Every value from the server reaches the document through textContent,
// title or dataset, never as markup.
#include "web/DashboardServer.h"

namespace krb::server::web {

const char* const kDashboardPage = R"page(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>KRB lab</title>
<style>
  :root { --ok: #1b7f3b; --warn: #b26a00; --bad: #b3261e; --off: #6b6b6b; --line: #d0d4da; }
  * { box-sizing: border-box; }
  body { margin: 0; font: 15px/1.4 system-ui, sans-serif; color: #1d1f23; background: #f4f5f7; }
  header { display: flex; flex-wrap: wrap; gap: .5rem 1rem; align-items: center;
           padding: .6rem 1rem; background: #20242b; color: #fff; }
  header h1 { font-size: 1.1rem; margin: 0; }
  #status { padding: .15rem .6rem; border-radius: 1rem; font-weight: 600; background: var(--off); }
  #status.live { background: var(--ok); }
  #status.unreachable { background: var(--bad); }
  #server { color: #c9ced6; font-size: .9rem; }
  main { padding: 1rem; display: grid; gap: 1rem; }
  #lab { display: grid; gap: 1rem; }
  section.system > h2 { font-size: 1rem; margin: 0 0 .5rem; }
  .units { display: grid; gap: 1rem; grid-template-columns: repeat(auto-fill, minmax(320px, 1fr)); }
  .unit { background: #fff; border: 1px solid var(--line); border-radius: .5rem; padding: .75rem; }
  .unit h3 { margin: 0 0 .4rem; font-size: 1rem; }
  .unit h3 .id { color: var(--off); font-weight: 400; margin-left: .4rem; }
  .states { display: flex; flex-wrap: wrap; gap: .3rem; margin-bottom: .5rem; }
  .state { font-size: .8rem; padding: .05rem .5rem; border-radius: .8rem; border: 1px solid var(--line); }
  .state.on { background: #e5f3ea; border-color: var(--ok); color: var(--ok); }
  .state.warn { background: #fff3e0; border-color: var(--warn); color: var(--warn); }
  .state.bad { background: #fdecea; border-color: var(--bad); color: var(--bad); }
  .error-message { flex-basis: 100%; font-size: .85rem; color: var(--bad); }
  .climate { font-size: .85rem; margin-bottom: .3rem; }
  .sectors { font-size: .85rem; color: #444; margin-bottom: .4rem; }
  .cassettes { display: flex; flex-wrap: wrap; gap: 4px; align-items: flex-end; }
  .cassette { display: flex; flex-direction: column-reverse; gap: 1px; align-items: center; }
  .cassette .number { font-size: .65rem; color: var(--off); }
  .level { width: 13px; height: 9px; border: 1px solid #9aa3ad; background: #fff; border-radius: 1px; }
  .level.present { background: #2f6fca; border-color: #2f6fca; }
  .level.unknown { background: repeating-linear-gradient(45deg, #eee, #eee 2px, #fff 2px, #fff 4px); }
  .level.selected { outline: 2px solid var(--warn); }
  #details { min-height: 1.4em; font-size: .9rem; margin-top: .4rem; }
  #log { background: #fff; border: 1px solid var(--line); border-radius: .5rem; padding: .5rem .75rem; }
  #log h2 { font-size: 1rem; margin: 0 0 .4rem; }
  #log ol { margin: 0; padding: 0; list-style: none; font: 12px/1.45 ui-monospace, monospace;
            max-height: 22rem; overflow: auto; }
  #log li { white-space: pre-wrap; word-break: break-all; border-bottom: 1px solid #f0f1f3; }
  #journey { background: #fff; border: 1px solid var(--line); border-radius: .5rem; padding: .5rem .75rem; }
  #journey h2 { font-size: 1rem; margin: 0 0 .4rem; }
  #journey form { display: flex; gap: .5rem; margin-bottom: .4rem; }
  #journey-status { font-size: .85rem; color: var(--off); }
  #journey-status.bad { color: var(--bad); }
  #journey table { border-collapse: collapse; font-size: .85rem; width: 100%; }
  #journey th, #journey td { text-align: left; padding: .15rem .4rem; border-bottom: 1px solid #f0f1f3; }
</style>
</head>
<body>
<header>
  <h1>KRB lab</h1>
  <span id="status">connecting</span>
  <span id="server"></span>
</header>
<main>
  <div id="details" aria-live="polite">Point at a level to see its plate.</div>
  <div id="lab"></div>
  <section id="journey">
    <h2>Plate history</h2>
    <form id="journey-form"><input id="journey-plate" type="search" placeholder="barcode" aria-label="barcode">
      <button type="submit">Search</button></form>
    <div id="journey-status" aria-live="polite"></div>
    <table hidden><thead><tr><th>Time</th><th>Unit</th><th>Location</th><th>Before → after</th>
      <th>Cause</th><th>Client</th><th>Command</th><th>Reply</th></tr></thead><tbody id="journey-rows"></tbody></table>
  </section>
  <section id="log"><h2>Log (last 50 lines)</h2><ol id="log-lines"></ol></section>
</main>
<script>
"use strict";
let selectedKey = null;
let lastLab = null;

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = String(text);
  return node;
}

function stateChip(text, kind) { return element("span", "state " + kind, text); }

function unitStates(unit) {
  const states = element("div", "states");
  states.append(stateChip(unit.activated ? "activated" : "not activated", unit.activated ? "on" : ""));
  states.append(stateChip(unit.busy ? "busy" : "idle", unit.busy ? "warn" : ""));
  if (!unit.activated) return states;  // door and error are polled on activated units only
  // While the unit does not answer, its last door and error states are stale.
  const answering = unit.link === "" || unit.link === "up";
  let doorText = unit.doorOpen ? "door open" : "door closed";
  if (!unit.hasDoor) doorText = "no door";
  else if (!answering) doorText = "door unknown";
  const door = stateChip(doorText, unit.hasDoor && answering && unit.doorOpen ? "warn" : "");
  door.dataset.role = "door";
  states.append(door);
  let errorText = unit.error ? "error " + unit.errorCode : "no error";
  if (!answering) errorText = "error unknown";
  const error = stateChip(errorText, answering && unit.error ? "bad" : "");
  error.dataset.role = "error";
  states.append(error);
  if (unit.link) {
    const link = stateChip(unit.link === "not answering" ? "not answering" : "link " + unit.link,
                           answering ? "" : "bad");
    link.dataset.role = "link";
    if (unit.linkEvent) link.title = "last: " + unit.linkEvent;
    states.append(link);
  }
  if (unit.error && unit.errorMessage) {
    const message = element("div", "error-message", unit.errorMessage);
    message.dataset.role = "error-message";
    states.append(message);
  }
  return states;
}

function locationText(unit, cassette, level, location) {
  let text = unit.id + ", cassette " + cassette.number + ", level " + level + ": ";
  if (!location) return text + "not in the contents file";
  text += location.present ? "plate" : "empty";
  if (location.barcode) text += ", barcode " + location.barcode;
  if (location.name) text += ", name " + location.name;
  return text;
}

function showDetails(text) { document.getElementById("details").textContent = text; }

function levelCell(unit, cassette, level, location) {
  const cell = element("div", "level");
  if (!location) cell.classList.add("unknown");
  else if (location.present) cell.classList.add("present");
  const key = unit.id + "/" + cassette.number + "/" + level;
  const text = locationText(unit, cassette, level, location);
  cell.title = text;
  cell.dataset.unit = unit.id;
  cell.dataset.cassette = cassette.number;
  cell.dataset.level = level;
  cell.dataset.present = location && location.present ? "1" : "0";
  if (key === selectedKey) { cell.classList.add("selected"); showDetails(text); }
  const select = () => {
    document.querySelectorAll(".level.selected").forEach(n => n.classList.remove("selected"));
    cell.classList.add("selected");
    selectedKey = key;
    showDetails(text);
  };
  cell.addEventListener("mouseenter", select);
  cell.addEventListener("click", select);
  return cell;
}

function cassetteColumn(unit, cassette) {
  const column = element("div", "cassette");
  column.append(element("span", "number", cassette.number));
  const byLevel = new Map();
  for (const location of cassette.locations) byLevel.set(location.level, location);
  for (let level = 1; level <= cassette.levels; ++level) {
    column.append(levelCell(unit, cassette, level, byLevel.get(level)));
  }
  return column;
}

function unitCard(unit) {
  const card = element("article", "unit");
  card.dataset.unit = unit.id;
  const title = element("h3", "", unit.id);
  title.append(element("span", "id", (unit.name ? unit.name + " · " : "") + "COM" + unit.comPort));
  card.append(title, unitStates(unit));
  if (unit.climate.length) {
    card.append(element("div", "climate", "Climate: " +
      unit.climate.map(c => c.name + " " + (c.value === "" ? "?" : c.value)).join(" · ")));
  }
  if (unit.sectors.length) {
    card.append(element("div", "sectors", "Sectors: " +
      unit.sectors.map(s => s.name + " (" + s.cassettes.join(", ") + ")").join("; ")));
  }
  const cassettes = element("div", "cassettes");
  for (const cassette of unit.cassettes) cassettes.append(cassetteColumn(unit, cassette));
  card.append(cassettes);
  return card;
}

function render(lab) {
  lastLab = lab;
  document.getElementById("server").textContent =
    (lab.listening ? "protocol port " + lab.port : "protocol listener stopped") +
    " · " + lab.connections + " connection(s) · " + lab.serviceListeners + " service listener(s)";
  const root = document.getElementById("lab");
  const systems = [];
  for (const system of lab.systems) {
    const section = element("section", "system");
    section.append(element("h2", "", "System " + system.name + (system.id ? " (" + system.id + ")" : "")));
    const units = element("div", "units");
    for (const unit of system.units) units.append(unitCard(unit));
    section.append(units);
    systems.push(section);
  }
  root.replaceChildren(...systems);
  const lines = document.getElementById("log-lines");
  lines.replaceChildren(...lab.log.map(line => element("li", "", line)));
  lines.scrollTop = lines.scrollHeight;
}

function setStatus(text, kind) {
  const status = document.getElementById("status");
  status.textContent = text;
  status.className = kind;
}

// A record without a plate may still carry a barcode: both are shown.
function stateText(state) {
  let text = state.present ? "plate" : "empty";
  if (state.barcode) text += " " + state.barcode;
  if (state.name) text += " (" + state.name + ")";
  return text;
}

function journeyRow(entry) {
  const row = element("tr");
  const change = entry.change;
  const command = entry.command ? entry.command + (entry.arguments ? "(" + entry.arguments + ")" : "") : "";
  const cells = [
    new Date(entry.time).toLocaleString(),
    entry.unit,
    change ? change.cassette + "/" + change.level + " (location " + change.slotNo + ")" : "",
    change ? stateText(change.before) + " → " + stateText(change.after) : "",
    change ? change.cause : "",
    entry.client || entry.interface,
    command,
    entry.reply,
  ];
  for (const text of cells) row.append(element("td", "", text));
  return row;
}

function showJourney(text, kind, entries) {
  const status = document.getElementById("journey-status");
  status.textContent = text;
  status.className = kind;
  const rows = document.getElementById("journey-rows");
  rows.replaceChildren(...entries.map(journeyRow));
  rows.parentElement.hidden = entries.length === 0;
}

async function searchJourney(plate) {
  showJourney("searching " + plate + " …", "", []);
  try {
    const answer = await fetch("history?plate=" + encodeURIComponent(plate));
    if (!answer.ok) return showJourney((await answer.text()).trim(), "bad", []);
    const entries = (await answer.json()).entries;
    showJourney(entries.length ? plate + ": " + entries.length + " step(s)" : "nothing recorded for " + plate,
                "", entries);
  } catch (error) {
    showJourney("server unreachable", "bad", []);
  }
}

document.getElementById("journey-form").addEventListener("submit", event => {
  event.preventDefault();
  const plate = document.getElementById("journey-plate").value.trim();
  if (plate) searchJourney(plate);
});

const events = new EventSource("events");
events.addEventListener("lab", event => { setStatus("live", "live"); render(JSON.parse(event.data)); });
events.addEventListener("open", () => setStatus("live", "live"));
events.addEventListener("error", () => setStatus("server unreachable", "unreachable"));
</script>
</body>
</html>
)page";

}  // namespace krb::server::web
