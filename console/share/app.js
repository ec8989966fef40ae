// The console's pages: one document whose views are filled from the JSON
// API. Every text from the server is set with textContent, so names holding
// markup stay text.
"use strict";

const state = { csrf: "", root: false, editing: null, editingArea: null };

const $ = (id) => document.getElementById(id);

function cell(row, text) {
  const td = document.createElement("td");
  td.textContent = text;
  row.appendChild(td);
  return td;
}

function button(label, action) {
  const b = document.createElement("button");
  b.type = "button";
  b.textContent = label;
  b.addEventListener("click", action);
  return b;
}

async function call(method, path, body) {
  const headers = {};
  if (method !== "GET") headers["X-CSRF-Token"] = state.csrf;
  if (body !== undefined) headers["Content-Type"] = "application/json";
  const res = await fetch(path, {
    method, headers, credentials: "same-origin",
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  let data = null;
  if (res.status !== 204) {
    try { data = await res.json(); } catch (e) { data = null; }
  }
  if (res.status === 401 && path !== "/api/session") showSignIn();
  if (!res.ok) {
    const message = data && typeof data.error === "string" ? data.error : "HTTP " + res.status;
    throw new Error(message);
  }
  return data;
}

function showSignIn() {
  $("signin").classList.remove("hidden");
  $("app").classList.add("hidden");
  $("whoami").classList.add("hidden");
}

function signedIn(info) {
  state.csrf = info.csrf;
  state.root = info.root === true;
  $("admin-name").textContent = info.admin;
  $("signin").classList.add("hidden");
  $("app").classList.remove("hidden");
  $("whoami").classList.remove("hidden");
  for (const b of document.querySelectorAll(".root-only")) b.classList.toggle("hidden", !state.root);
  show("groups");
}

function show(view) {
  for (const v of document.querySelectorAll(".view")) v.classList.add("hidden");
  $("view-" + view).classList.remove("hidden");
  $("app-error").textContent = "";
  const load = {
    groups: loadGroups, areas: loadAreas, entities: loadEntities, bindings: loadBindingView, settings: loadSettings, changes: loadChanges,
    order: loadOrder, servers: loadServers,
  }[view];
  load().catch((e) => { $("app-error").textContent = e.message; });
}

async function loadGroups() {
  const groups = await call("GET", "/api/address-groups");
  const rows = $("group-rows");
  rows.replaceChildren();
  for (const g of groups) {
    const tr = document.createElement("tr");
    tr.dataset.id = String(g.id);
    cell(tr, String(g.id));
    cell(tr, g.name).className = "name";
    cell(tr, g.editable ? "yes" : "no").className = "editable";
    cell(tr, g.deletable ? "yes" : "no").className = "deletable";
    const actions = cell(tr, "");
    if (g.editable) actions.appendChild(button("Edit", () => editGroup(g.id)));
    if (g.deletable) actions.appendChild(button("Delete", () => deleteGroup(g.id, g.name)));
    rows.appendChild(tr);
  }
}

function openGroupForm(title, name, members) {
  $("group-form-title").textContent = title;
  $("group-name").value = name;
  $("group-members").value = members.join("\n");
  $("group-error").textContent = "";
  $("group-form").classList.remove("hidden");
}

async function editGroup(id) {
  try {
    const g = await call("GET", "/api/address-groups/" + id);
    state.editing = id;
    openGroupForm("Edit group " + id, g.name, g.members);
  } catch (e) { $("app-error").textContent = e.message; }
}

async function deleteGroup(id, name) {
  if (!window.confirm("Delete address group \u201c" + name + "\u201d?")) return;
  try {
    await call("DELETE", "/api/address-groups/" + id);
    await loadGroups();
  } catch (e) { $("app-error").textContent = e.message; }
}

async function saveGroup(event) {
  event.preventDefault();
  const body = {
    name: $("group-name").value,
    members: $("group-members").value.split("\n").map((m) => m.trim()).filter((m) => m !== ""),
  };
  try {
    if (state.editing === null) await call("POST", "/api/address-groups", body);
    else await call("PUT", "/api/address-groups/" + state.editing, body);
    $("group-form").classList.add("hidden");
    state.editing = null;
    await loadGroups();
  } catch (e) { $("group-error").textContent = e.message; }
}

async function loadAreas() {
  const areas = await call("GET", "/api/quarantine-areas");
  const rows = $("area-rows");
  rows.replaceChildren();
  for (const a of areas) {
    const tr = document.createElement("tr");
    cell(tr, String(a.id));
    cell(tr, a.name).className = "name";
    cell(tr, a.editable ? "yes" : "no");
    const actions = cell(tr, "");
    if (a.editable) {
      actions.appendChild(button("Edit", () => {
        state.editingArea = a.id;
        $("area-name").value = a.name;
        $("area-content").value = a.content;
        $("area-error").textContent = "";
        $("area-form").classList.remove("hidden");
      }));
    }
    rows.appendChild(tr);
  }
}

async function saveArea(event) {
  event.preventDefault();
  try {
    await call("PUT", "/api/quarantine-areas/" + state.editingArea,
               { name: $("area-name").value, content: $("area-content").value });
    $("area-form").classList.add("hidden");
    await loadAreas();
  } catch (e) { $("area-error").textContent = e.message; }
}

function entityItem(node) {
  const li = document.createElement("li");
  const name = document.createElement("span");
  name.textContent = node.name;
  const kind = document.createElement("span");
  kind.className = "kind";
  kind.textContent = "#" + node.id + ", type " + node.type;
  li.append(name, kind);
  if (node.children.length > 0) {
    const ul = document.createElement("ul");
    for (const c of node.children) ul.appendChild(entityItem(c));
    li.appendChild(ul);
  }
  return li;
}

async function loadEntities() {
  const roots = await call("GET", "/api/entities");
  const tree = $("entity-tree");
  tree.replaceChildren();
  for (const n of roots) tree.appendChild(entityItem(n));
}

function option(value, text) {
  const o = document.createElement("option");
  o.value = value;
  o.textContent = text;
  return o;
}

// The entities of the tree, depth first, with their depth.
function flatten(nodes, depth, out) {
  for (const n of nodes) {
    out.push({ node: n, depth });
    flatten(n.children, depth + 1, out);
  }
  return out;
}

// Fills the entity and group choices, then lists the bindings.
async function loadBindingView() {
  const [roots, groups] = await Promise.all([call("GET", "/api/entities"), call("GET", "/api/address-groups")]);
  const filter = $("binding-filter");
  const chosen = filter.value;
  filter.replaceChildren(option("", "All entities"));
  const entity = $("binding-entity");
  entity.replaceChildren();
  const seen = new Set();
  for (const { node, depth } of flatten(roots, 0, [])) {
    if (seen.has(node.id)) continue;
    seen.add(node.id);
    const label = "\u00a0\u00a0".repeat(depth) + node.name + " (#" + node.id + ")";
    filter.appendChild(option(String(node.id), label));
    entity.appendChild(option(String(node.id), label));
  }
  filter.value = seen.has(Number(chosen)) ? chosen : "";
  const group = $("binding-group");
  group.replaceChildren();
  for (const g of groups) {
    if (g.editable) group.appendChild(option(String(g.id), g.name + " (#" + g.id + ")"));
  }
  await loadBindings();
}

async function loadBindings() {
  const entity = $("binding-filter").value;
  const bindings = await call("GET", "/api/bindings" + (entity === "" ? "" : "?entity=" + entity));
  const rows = $("binding-rows");
  rows.replaceChildren();
  for (const b of bindings) {
    const tr = document.createElement("tr");
    cell(tr, b.entityName + " (#" + b.entity + ")").className = "entity";
    cell(tr, b.groupName + " (#" + b.group + ")").className = "group";
    cell(tr, b.membership).className = "membership";
    cell(tr, String(b.position)).className = "position";
    const actions = cell(tr, "");
    actions.appendChild(button("Unbind", () => unbind(b)));
    rows.appendChild(tr);
  }
}

async function unbind(b) {
  if (!window.confirm("Unbind \u201c" + b.groupName + "\u201d from \u201c" + b.entityName + "\u201d?")) return;
  try {
    await call("DELETE", "/api/bindings/" + b.entity + "/" + b.group + "/" + encodeURIComponent(b.membership));
    await loadBindings();
  } catch (e) { $("app-error").textContent = e.message; }
}

async function saveBinding(event) {
  event.preventDefault();
  $("binding-error").textContent = "";
  const position = $("binding-position").value.trim();
  if (position !== "" && !/^[0-9]{1,7}$/.test(position)) {
    $("binding-error").textContent = "The position is a whole number (empty: last).";
    return;
  }
  const body = {
    entity: Number($("binding-entity").value),
    group: Number($("binding-group").value),
    membership: $("binding-membership").value,
  };
  if (position !== "") body.position = Number(position);
  try {
    await call("POST", "/api/bindings", body);
    $("binding-position").value = "";
    await loadBindings();
  } catch (e) { $("binding-error").textContent = e.message; }
}

const NUMBER_FIELDS = ["backlog", "port", "recvTimeoutSecs", "sendTimeoutSecs", "threads", "maxThreads", "cacheTTLMins"];

async function loadSettings() {
  const data = await call("GET", "/api/settings");
  for (const f of NUMBER_FIELDS) {
    $("set-" + f).value = String(data.settings[f]);
    $("err-" + f).textContent = "";
  }
  $("set-keepAlive").checked = data.settings.keepAlive;
  $("set-https").checked = data.settings.https;
  const list = $("settings-messages");
  list.replaceChildren();
  for (const m of data.messages) {
    const li = document.createElement("li");
    li.textContent = m;
    list.appendChild(li);
  }
}

async function saveSettings(event) {
  event.preventDefault();
  const body = { keepAlive: $("set-keepAlive").checked, https: $("set-https").checked };
  for (const f of NUMBER_FIELDS) {
    const text = $("set-" + f).value.trim();
    body[f] = /^[0-9]{1,10}$/.test(text) ? Number(text) : text;
    $("err-" + f).textContent = "";
  }
  $("settings-error").textContent = "";
  const res = await fetch("/api/settings", {
    method: "PUT", credentials: "same-origin",
    headers: { "Content-Type": "application/json", "X-CSRF-Token": state.csrf },
    body: JSON.stringify(body),
  });
  let data = null;
  try { data = await res.json(); } catch (e) { data = null; }
  if (res.ok) { await loadSettings(); $("settings-error").textContent = "Saved."; return; }
  if (data && data.fields) {
    for (const [field, message] of Object.entries(data.fields)) {
      const slot = $("err-" + field);
      if (slot) slot.textContent = message;
    }
  }
  $("settings-error").textContent = data && typeof data.error === "string" ? data.error : "HTTP " + res.status;
}

async function loadOrder() {
  const data = await call("GET", "/api/rule-order");
  $("order-state").textContent = data.manual ? "A manual order is in force:" : "No manual order is in force.";
  const list = $("order-rows");
  list.replaceChildren();
  for (const g of data.groups) {
    const li = document.createElement("li");
    li.textContent = g.name + " (" + g.kind + ")";
    list.appendChild(li);
  }
}

async function loadServers() {
  const servers = await call("GET", "/api/policy-servers");
  const rows = $("server-rows");
  rows.replaceChildren();
  for (const p of servers) {
    const tr = document.createElement("tr");
    cell(tr, String(p.id));
    cell(tr, p.address);
    cell(tr, String(p.port));
    rows.appendChild(tr);
  }
}

async function loadChanges() {
  const changes = await call("GET", "/api/changes");
  const rows = $("change-rows");
  rows.replaceChildren();
  for (const c of changes) {
    const tr = document.createElement("tr");
    cell(tr, c.time);
    cell(tr, c.admin);
    cell(tr, c.operation);
    cell(tr, String(c.objectId));
    cell(tr, c.objectName);
    rows.appendChild(tr);
  }
}

document.addEventListener("DOMContentLoaded", () => {
  $("signin-form").addEventListener("submit", async (event) => {
    event.preventDefault();
    $("signin-error").textContent = "";
    try {
      const info = await call("POST", "/api/session",
                              { admin: $("signin-admin").value, password: $("signin-password").value });
      $("signin-password").value = "";
      signedIn(info);
    } catch (e) { $("signin-error").textContent = e.message; }
  });
  $("signout").addEventListener("click", async () => {
    try { await call("DELETE", "/api/session"); } catch (e) { /* the session is gone either way */ }
    state.csrf = "";
    showSignIn();
  });
  for (const b of document.querySelectorAll("nav button")) {
    b.addEventListener("click", () => show(b.dataset.view));
  }
  $("group-new").addEventListener("click", () => { state.editing = null; openGroupForm("New group", "", []); });
  $("group-cancel").addEventListener("click", () => $("group-form").classList.add("hidden"));
  $("group-form").addEventListener("submit", saveGroup);
  $("area-cancel").addEventListener("click", () => $("area-form").classList.add("hidden"));
  $("area-form").addEventListener("submit", saveArea);
  $("settings-form").addEventListener("submit", saveSettings);
  $("binding-form").addEventListener("submit", saveBinding);
  $("binding-filter").addEventListener("change", () => {
    loadBindings().catch((e) => { $("app-error").textContent = e.message; });
  });
  call("GET", "/api/session").then(signedIn).catch(showSignIn);
});
