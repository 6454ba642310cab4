// The page of `hivemender ui`: plain script, no framework, nothing fetched
// from elsewhere. Every change goes to the host as a POST with a JSON body;
// the host re-reads the machine before each and refuses a stale selection.
"use strict";

const PAGE_ROWS = 500; // rows added to a group at a time: 30,000 problems stay usable
const $ = (id) => document.getElementById(id);

const state = {
  scan: 0,           // the host's number of the scan shown; a fix names it
  problems: [],
  sections: [],
  selected: new Set(),
  expanded: new Set(),
  shown: new Map(),  // section -> rows rendered so far
  busy: false,
};

function element(tag, properties = {}, children = []) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(properties)) {
    if (name === "text") node.textContent = value;
    else if (name.startsWith("aria") || name === "role" || name.startsWith("data")) node.setAttribute(name.replace(/[A-Z]/g, (c) => "-" + c.toLowerCase()), value);
    else node[name] = value;
  }
  for (const child of children) node.append(child);
  return node;
}

function showMessage(text) {
  const box = $("message");
  box.textContent = text || "";
  box.hidden = !text;
}

async function api(method, path, body) {
  let response;
  try {
    response = await fetch(path, {
      method,
      credentials: "same-origin",
      headers: body === undefined ? {} : { "Content-Type": "application/json" },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
  } catch (failure) {
    throw new Error("hivemender does not answer (was it stopped?)");
  }
  let answer = {};
  try { answer = await response.json(); } catch (ignored) { /* an empty answer */ }
  if (!response.ok) throw new Error(answer.error || `the request failed (HTTP ${response.status})`);
  return answer;
}

// Runs one operation at a time; its error becomes the page's message.
async function operation(label, work) {
  if (state.busy) return;
  state.busy = true;
  showMessage("");
  setBusy(label);
  try {
    await work();
  } catch (failure) {
    showMessage(failure.message);
  } finally {
    state.busy = false;
    setBusy("");
  }
}

let progressTimer = 0;
function setBusy(label) {
  for (const id of ["scan", "rescan", "quit"]) $(id).disabled = !!label;
  $("fix").disabled = !!label || state.selected.size === 0;
  $("progress").hidden = $("stop").hidden = !label;
  clearInterval(progressTimer);
  if (!label) return;
  $("activity").textContent = label;
  const started = performance.now();
  progressTimer = setInterval(() => {
    $("elapsed").textContent = ((performance.now() - started) / 1000).toFixed(1);
  }, 100);
}

function ask(question, yes) {
  const dialog = $("confirm");
  $("confirm-text").textContent = question;
  $("confirm-yes").textContent = yes;
  dialog.showModal();
  $("confirm-no").focus();
  return new Promise((resolve) => {
    const answer = (value) => () => { dialog.close(); resolve(value); };
    $("confirm-yes").onclick = answer(true);
    $("confirm-no").onclick = answer(false);
    dialog.oncancel = answer(false);
  });
}

// ---- problems ----

function matches(problem, filter) {
  if (!filter) return true;
  return ["key path", "value name", "user name", "new value"].some(
    (name) => (problem[name] || "").toLowerCase().includes(filter));
}

function visibleProblems() {
  const filter = $("filter").value.trim().toLowerCase();
  const order = $("sort").value;
  const list = state.problems.filter((p) => matches(p, filter));
  if (order === "id") list.sort((a, b) => a.id - b.id);
  else list.sort((a, b) => (a[order] || "").localeCompare(b[order] || "") || a.id - b.id);
  return list;
}

function sectionName(section) {
  return state.sections[Number(section)] || `section ${section}`;
}

function describe(problem) {
  return problem["key path"] + (problem["value name"] ? `, value ${problem["value name"]}` : "");
}

function renderProblems() {
  const groups = $("groups");
  groups.textContent = "";
  const bySection = new Map();
  for (const problem of visibleProblems()) {
    if (!bySection.has(problem.section)) bySection.set(problem.section, []);
    bySection.get(problem.section).push(problem);
  }
  const sections = [...bySection.keys()].sort((a, b) => a - b);
  for (const section of sections) groups.append(renderGroup(section, bySection.get(section)));
  showSelection();
}

// After a check box changed: the group boxes, the count and the Fix button,
// without rebuilding rows (a group may hold thousands).
function showSelection() {
  for (const group of document.querySelectorAll("#groups .group")) {
    const problems = group.problems;
    const chosen = problems.filter((p) => state.selected.has(p.id)).length;
    const check = group.querySelector(".group-head input");
    check.checked = chosen === problems.length;
    check.indeterminate = chosen > 0 && chosen < problems.length;
    for (const box of group.querySelectorAll("tbody input")) box.checked = state.selected.has(box.problemId);
  }
  const total = state.problems.length;
  $("summary").textContent = total === 0 ? "The scan found no problems."
    : `${total} problems in ${new Set(state.problems.map((p) => p.section)).size} sections; ${state.selected.size} selected.`;
  $("fix").disabled = state.busy || state.selected.size === 0;
}

function renderGroup(section, problems) {
  const name = sectionName(section);
  const body = element("div", { className: "group-body", id: `group-${section}` });
  const expanded = state.expanded.has(section);
  body.hidden = !expanded;
  const check = element("input", { type: "checkbox", ariaLabel: `select all ${problems.length} problems of ${name}` });
  check.onchange = () => {
    for (const p of problems) check.checked ? state.selected.add(p.id) : state.selected.delete(p.id);
    showSelection();
  };
  const toggle = element("button", { type: "button", text: `${name} (${problems.length})`,
    ariaExpanded: String(expanded), ariaControls: body.id });
  toggle.onclick = () => {
    expanded ? state.expanded.delete(section) : state.expanded.add(section);
    renderProblems();
    document.querySelector(`[aria-controls="group-${section}"]`)?.focus();
  };
  if (expanded) fillGroup(body, section, problems);
  const group = element("div", { className: "group", role: "group", ariaLabel: name },
    [element("div", { className: "group-head" }, [check, toggle]), body]);
  group.problems = problems;
  return group;
}

function fillGroup(body, section, problems) {
  const table = element("table");
  table.innerHTML = '<colgroup><col class="check"><col class="id"><col class="key"><col><col class="user"><col><col class="act"></colgroup>' +
    '<thead><tr><th scope="col"><span class="visually-hidden">selected</span></th><th scope="col">id</th><th scope="col">key path</th><th scope="col">value name</th><th scope="col">user</th><th scope="col">new value</th><th scope="col"><span class="visually-hidden">actions</span></th></tr></thead>';
  const rows = element("tbody");
  const shown = Math.min(problems.length, state.shown.get(section) || PAGE_ROWS);
  for (const problem of problems.slice(0, shown)) rows.append(renderRow(problem));
  table.append(rows);
  body.append(table);
  if (shown < problems.length) {
    const more = element("button", { type: "button", text: `Show ${Math.min(PAGE_ROWS, problems.length - shown)} more of ${problems.length - shown}` });
    more.onclick = () => { state.shown.set(section, shown + PAGE_ROWS); renderProblems(); };
    body.append(more);
  }
}

function renderRow(problem) {
  const check = element("input", { type: "checkbox", checked: state.selected.has(problem.id),
    ariaLabel: `select problem ${problem.id}: ${describe(problem)}` });
  check.problemId = problem.id;
  check.onchange = () => {
    check.checked ? state.selected.add(problem.id) : state.selected.delete(problem.id);
    showSelection();
  };
  const actions = element("td", { className: "actions" });
  const row = element("tr", { dataId: String(problem.id) }, [
    element("td", {}, [check]), element("td", { text: problem.id }),
    element("td", { text: problem["key path"] }), element("td", { text: problem["value name"] || "" }),
    element("td", { text: problem["user name"] || "" }), element("td", { text: problem["new value"] || "" }),
    actions]);
  const explain = element("button", { type: "button", text: "Why?", ariaLabel: `explain problem ${problem.id}` });
  explain.onclick = () => explainProblem(problem, row, explain);
  const never = element("button", { type: "button", text: "Never report this key",
    ariaLabel: `never report the key of problem ${problem.id}: ${problem["key path"]}` });
  never.onclick = () => operation("Excluding", async () => {
    await api("POST", "/api/exclusions", { add: problem["key path"] });
    await loadExclusions();
    showMessage("");
    $("summary").textContent = `Excluded ${problem["key path"]}: scan again to see the list without it.`;
  });
  actions.append(explain, never);
  return row;
}

async function explainProblem(problem, row, button) {
  const open = row.nextElementSibling && row.nextElementSibling.classList.contains("explain");
  if (open) { row.nextElementSibling.remove(); button.setAttribute("aria-expanded", "false"); return; }
  await operation("Reading the value", async () => {
    const answer = await api("POST", "/api/explain", { scan: state.scan, id: problem.id });
    const cell = element("td", { colSpan: 6, text: answer.lines.join("\n") });
    row.after(element("tr", { className: "explain" }, [element("td"), cell]));
    button.setAttribute("aria-expanded", "true");
  });
}

async function scan() {
  await operation("Scanning", async () => {
    const answer = await api("POST", "/api/scan", {});
    state.scan = answer.scan;
    state.sections = answer.sections;
    state.problems = answer.report.problems.map((p) => ({ ...p, id: Number(p.id) }));
    state.selected.clear();
    state.shown.clear();
    $("fix-result").hidden = true;
    renderProblems();
    $("groups").dataset.scan = state.scan; // which scan the list shows
    if (answer.warning) showMessage(answer.warning);
  });
}

async function fixSelected() {
  const count = state.selected.size;
  if (!count) return;
  const ok = await ask(`Fix ${count} selected problem${count === 1 ? "" : "s"}? ` +
    "An undo file is written first, so Backups can restore every change.", `Fix ${count}`);
  if (!ok) return;
  await operation("Fixing", async () => {
    const answer = await api("POST", "/api/fix", { scan: state.scan, ids: [...state.selected].sort((a, b) => a - b) });
    const fixes = answer.report.fixes || [];
    const fixed = fixes.filter((f) => f.fixed === "true").length;
    const rows = $("fix-rows");
    rows.textContent = "";
    for (const f of fixes) {
      rows.append(element("tr", {}, [element("td", { text: f.id }), element("td", { text: f["key path"] }),
        element("td", { text: f["value name"] || "" }),
        element("td", { className: f.fixed === "true" ? "fixed-yes" : "fixed-no", text: f.fixed === "true" ? "fixed" : "not fixed" })]));
    }
    const reportError = answer.report.error ? ` The engine said: ${answer.report.error}.` : "";
    $("fix-summary").textContent = `${count} selected, ${fixed} fixed.` + reportError +
      (answer["undo file"] ? ` Undo file: ${answer["undo file"]}.` : "");
    $("fix-result").hidden = false;
    state.selected.clear();
    state.problems = [];
    renderProblems();
    $("summary").textContent = "Scan again to see what is left.";
    if (answer.failed) showMessage(answer.failed);
    await loadBackups();
    $("rescan").focus();
  });
}

// ---- backups and exclusions ----

async function loadBackups() {
  const answer = await api("GET", "/api/backups");
  const body = $("backups").tBodies[0];
  body.textContent = "";
  for (const backup of answer.backups.slice().reverse()) {
    const restore = element("button", { type: "button", text: "Restore", ariaLabel: `restore ${backup.file}` });
    restore.onclick = () => restoreBackup(backup);
    body.append(element("tr", {}, [element("td", { text: backup.restored ? `${backup.date} (restored ${backup.restored})` : backup.date }), element("td", { text: backup.keys }),
      element("td", { text: backup.values }), element("td", { text: backup.file }), element("td", {}, [restore])]));
  }
  $("backups").hidden = answer.backups.length === 0;
  $("backups-empty").hidden = answer.backups.length !== 0;
}

async function restoreBackup(backup) {
  const ok = await ask(`Restore ${backup.keys} keys and ${backup.values} values from ${backup.file}? ` +
    "The registry gets back what that fix changed.", "Restore");
  if (!ok) return;
  await operation("Restoring", async () => {
    const answer = await api("POST", "/api/restore", { file: backup.file });
    $("summary").textContent = answer.said + ". Scan again to see the problems it brought back.";
  });
}

async function loadExclusions() {
  const answer = await api("GET", "/api/exclusions");
  const list = $("excluded");
  list.textContent = "";
  for (const key of answer.excluded) {
    const remove = element("button", { type: "button", text: "Remove", ariaLabel: `report ${key} again` });
    remove.onclick = () => operation("Removing", async () => {
      await api("POST", "/api/exclusions", { remove: key });
      await loadExclusions();
    });
    list.append(element("li", {}, [element("span", { text: key }), remove]));
  }
}

async function quit() {
  const ok = await ask("Stop hivemender? The page stops working until you start it again.", "Quit");
  if (!ok) return;
  await api("POST", "/api/quit", {}).catch(() => {});
  document.body.textContent = "";
  document.body.append(element("p", { role: "status", text: "Hivemender has stopped. You can close this tab." }));
}

async function start() {
  $("scan").onclick = scan;
  $("rescan").onclick = scan;
  $("fix").onclick = fixSelected;
  $("stop").onclick = () => api("POST", "/api/stop", {}).catch((failure) => showMessage(failure.message));
  $("quit").onclick = quit;
  $("filter").oninput = renderProblems;
  $("sort").onchange = renderProblems;
  $("exclude-form").onsubmit = (event) => {
    event.preventDefault();
    const key = $("exclude-key").value.trim();
    if (!key) return;
    operation("Excluding", async () => {
      await api("POST", "/api/exclusions", { add: key });
      $("exclude-key").value = "";
      await loadExclusions();
    });
  };
  try {
    $("machine").textContent = "machine: " + (await api("GET", "/api/machine")).machine;
    await Promise.all([loadBackups(), loadExclusions()]);
  } catch (failure) {
    showMessage(failure.message);
  }
}

document.addEventListener("DOMContentLoaded", start);
