// The page at "/": a till in the browser. Plain HTML and JavaScript kept in the
// binary, so the service needs no files beside it.
#include "tools/serve/http.h"

namespace tarvion::serve {

const char* pageHtml() {
  return R"PAGE(<!DOCTYPE html>
<html lang="pt-BR">
<head>
<meta charset="utf-8">
<title>Tarvion - caixa</title>
<style>
 body { font-family: sans-serif; margin: 1em; display: flex; gap: 2em; flex-wrap: wrap; }
 section { min-width: 22em; }
 fieldset { margin-bottom: 1em; }
 label { display: inline-block; min-width: 7em; }
 input { margin: 2px 0; }
 #paper { background: #fffef4; border: 1px solid #ccc; padding: .5em; min-height: 20em; min-width: 26em; white-space: pre; font-family: monospace; }
 #message.erro { color: #b00; }
 #log { font-family: monospace; font-size: small; max-height: 15em; overflow: auto; }
</style>
</head>
<body>
<section>
<fieldset><legend>Impressora</legend>
 <label for="printer">Impressora</label> <select id="printer"></select> <button id="refresh">Atualizar</button><br>
 <label for="token">Token</label> <input id="token" type="password" placeholder="(se o serviço pedir)">
</fieldset>
<fieldset><legend>Cupom</legend>
 <button id="open">Abrir cupom</button>
 <span>Total: <b id="total">0.00</b></span>
</fieldset>
<fieldset><legend>Item</legend>
 <label for="code">Código</label> <input id="code" value="7891000100103"><br>
 <label for="desc">Descrição</label> <input id="desc" value="CAFE TORRADO 500G"><br>
 <label for="unit">Unidade</label> <input id="unit" value="UN" size="3"><br>
 <label for="tax">Alíquota %</label> <input id="tax" value="18" size="5"><br>
 <label for="qty">Quantidade</label> <input id="qty" value="1" size="6"><br>
 <label for="price">Preço</label> <input id="price" value="10.50" size="8"><br>
 <button id="add">Registrar item</button>
</fieldset>
<fieldset><legend>Pagamento</legend>
 <label for="payType">Forma</label> <input id="payType" value="Dinheiro"><br>
 <label for="payValue">Valor</label> <input id="payValue" value="" size="8"><br>
 <button id="pay">Registrar pagamento</button>
</fieldset>
<fieldset><legend>Fechamento</legend>
 <label for="footer">Mensagem</label> <input id="footer" value="OBRIGADO PELA PREFERENCIA"><br>
 <button id="close">Fechar cupom</button>
</fieldset>
<div id="message"></div>
<div id="log"></div>
</section>
<section>
<h3>Papel</h3>
<pre id="paper"></pre>
</section>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
let printers = [], total = 0, totalized = false, busy = false;

function headers() {
  const h = { "Content-Type": "application/json" };
  const t = $("token").value.trim();
  if (t) h["Authorization"] = "Bearer " + t;
  return h;
}
function newKey() {
  if (window.crypto && crypto.randomUUID) return crypto.randomUUID();
  return Date.now().toString(36) + "-" + Math.random().toString(36).slice(2);
}
function say(text, isError) {
  $("message").textContent = text;
  $("message").className = isError ? "erro" : "ok";
}
function log(text) {
  const line = document.createElement("div");
  line.textContent = text;
  $("log").prepend(line);
}
function number(id) {
  const v = Number($(id).value.replace(",", "."));
  if (!isFinite(v)) throw new Error($(id).previousElementSibling.textContent + ": número inválido");
  return v;
}

// A batch under one Idempotency-Key: a lost answer is asked for again with the
// same key, so the printer never runs it twice.
async function run(calls) {
  const id = $("printer").value;
  if (!id) throw new Error("Nenhuma impressora");
  const key = newKey(), body = JSON.stringify(calls);
  let lastError;
  for (let attempt = 0; attempt < 3; ++attempt) {
    let res;
    try {
      res = await fetch("/printers/" + encodeURIComponent(id) + "/calls",
                        { method: "POST", headers: Object.assign({ "Idempotency-Key": key }, headers()), body });
    } catch (e) { lastError = e; continue; }
    const answer = await res.json();
    if (!res.ok) throw new Error(answer.error || ("HTTP " + res.status));
    for (const c of answer.calls) log(c.entry + " -> " + JSON.stringify(c.result) + (c.UltimoErro ? "  " + c.UltimoErro : ""));
    if (answer.outcome !== "done") {
      const last = answer.calls[answer.calls.length - 1];
      const why = last && last.UltimoErro ? last.UltimoErro : answer.outcome;
      throw new Error((answer.outcome === "unknown" ? "Resultado incerto: " : "Falhou: ") + why);
    }
    return answer;
  }
  throw new Error("Sem resposta do serviço: " + lastError);
}

function button(id, action) {
  $(id).addEventListener("click", async () => {
    if (busy) return;
    busy = true;
    try { say(await action(), false); } catch (e) { say(e.message, true); }
    busy = false;
    refreshPaper();
  });
}

button("open", async () => {
  await run({ entry: "AbreCupomFiscal", args: [] });
  total = 0; totalized = false; $("total").textContent = "0.00";
  return "Cupom aberto";
});
button("add", async () => {
  const qty = number("qty"), price = number("price");
  await run({ entry: "RegistraItemFiscal",
              args: [$("code").value, $("desc").value, $("unit").value, number("tax"), qty, price, 0] });
  total += Math.round(qty * price * 100) / 100;
  $("total").textContent = total.toFixed(2);
  $("payValue").value = total.toFixed(2);
  return "Item registrado: " + $("desc").value;
});
button("pay", async () => {
  const calls = [];
  if (!totalized) calls.push({ entry: "TotalizaCupomDesconto", args: [0, 0] });
  calls.push({ entry: "RegistraPagamento", args: [$("payType").value, number("payValue")] });
  await run(calls);
  totalized = true;
  return "Pagamento registrado";
});
button("close", async () => {
  const answer = await run([{ entry: "FechaCupomFiscal", args: [$("footer").value, 0] },
                            { entry: "RetornaNumeroCupom", args: [] }]);
  const coo = answer.calls[1].out.strNumeroCupom;
  return "Cupom fechado: COO " + coo;
});

async function refreshPaper() {
  const p = printers.find((x) => x.id === $("printer").value);
  if (!p || !p.virtual) { $("paper").textContent = p ? "(papel na impressora)" : ""; return; }
  try {
    const res = await fetch("/printers/" + encodeURIComponent(p.id) + "/paper", { headers: headers() });
    if (res.ok) {
      const text = await res.text();
      if ($("paper").textContent !== text) $("paper").textContent = text;
    }
  } catch (e) { /* the next tick tries again */ }
}

async function loadPrinters() {
  try {
    const res = await fetch("/printers", { headers: headers() });
    const answer = await res.json();
    if (!res.ok) { say(answer.error, true); return; }
    printers = answer;
    const sel = $("printer"), keep = sel.value;
    sel.innerHTML = "";
    for (const p of printers) {
      const o = document.createElement("option");
      o.value = p.id;
      o.textContent = p.id + " - " + p.modelName + " (" + p.state + ")";
      sel.appendChild(o);
    }
    if (keep && printers.some((p) => p.id === keep)) sel.value = keep;
    document.body.dataset.ready = "1";
    refreshPaper();
  } catch (e) { say("Serviço inacessível: " + e.message, true); }
}

$("refresh").addEventListener("click", loadPrinters);
$("printer").addEventListener("change", refreshPaper);
$("token").addEventListener("change", () => { localStorage.setItem("tarvionToken", $("token").value); loadPrinters(); });
$("token").value = localStorage.getItem("tarvionToken") || "";
loadPrinters();
setInterval(refreshPaper, 1000);
</script>
</body>
</html>
)PAGE";
}

}  // namespace tarvion::serve
