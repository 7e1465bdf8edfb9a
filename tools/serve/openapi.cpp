#include "tools/serve/openapi.h"

#include <initializer_list>
#include <nlohmann/json.hpp>
#include <utility>

#include "tools/serve/service.h"

#ifndef TARVION_VERSION
#error "TARVION_VERSION (the project's version) is set by the build"
#endif

namespace tarvion::serve {

using nlohmann::json;

namespace {

// What the binder accepts for a date: the two shapes it reads, years 100 to
// 9999 and the ranges of each part. That the day exists in its month (no
// February 30th) is checked by the service, not by the pattern.
constexpr const char* kDatePattern =
    "^(0[1-9][0-9]{2}|[1-9][0-9]{3})-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01])"
    "(T([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9])?$";

// JSON Schema counts 2.0 as an integer; the service reads it as a number,
// which a short or long parameter refuses.
constexpr const char* kWhole = "An integer, written without a decimal point.";

std::string ref(const std::string& schema) {
  return "#/components/schemas/" + schema;
}

json refTo(const std::string& schema) {
  return {{"$ref", ref(schema)}};
}

// The JSON a value of the type is sent as, as the service's binder takes it.
json valueSchema(Type type) {
  switch (type) {
    case Type::Bool:
      return {{"type", {"boolean", "integer"}},
              {"minimum", -32768},
              {"maximum", 32767},
              {"description", "true, false, or a 16-bit integer (non-zero is true)."}};
    case Type::Short:
      return {
          {"type", "integer"}, {"format", "int32"}, {"minimum", -32768}, {"maximum", 32767}, {"description", kWhole}};
    case Type::Long:
      return {{"type", "integer"},
              {"format", "int32"},
              {"minimum", -2147483648LL},
              {"maximum", 2147483647},
              {"description", kWhole}};
    case Type::Double:
      return {{"type", "number"}, {"format", "double"}};
    case Type::Date:
      return {{"type", "string"},
              {"pattern", kDatePattern},
              {"description", "A local date, YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, that exists in the calendar."}};
    case Type::String:
      return {{"type", "string"}};
    case Type::Void:
      break;
  }
  return json::object();
}

int sentCount(const EntryInfo& e) {
  int n = 0;
  for (int i = 0; i < e.paramCount; ++i) n += e.params[i].dir != Dir::Out;
  return n;
}

std::string entryDescription(const EntryInfo& e) {
  std::string d;
  switch (e.kind) {
    case Kind::Method:
      d = std::string("Method; returns ") + typeName(e.result) +
          (e.result == Type::Bool ? " (false stops the batch)." : ".");
      break;
    case Kind::Get:
      d = std::string("Read-only property (") + typeName(e.result) + ").";
      break;
    case Kind::GetSet:
      d = std::string("Property (") + typeName(e.result) + "): read it with no args, or give it a value with \"set\".";
      break;
  }
  std::string outs;
  for (int i = 0; i < e.paramCount; ++i) {
    const ParamInfo& p = e.params[i];
    if (p.dir == Dir::In) continue;
    outs += std::string(outs.empty() ? "" : ", ") + p.name + " (" + typeName(p.type) +
            (p.type == Type::String && p.form == TextForm::List ? " list" : "") + ")";
  }
  if (!outs.empty()) d += " Comes back in \"out\": " + outs + ".";
  return d;
}

// One entry's call: its name as a constant, then the in and in/out parameters
// in order (out parameters are never sent), or the value of a property.
json callSchema(const EntryInfo& e) {
  json items = json::array();
  for (int i = 0; i < e.paramCount; ++i) {
    const ParamInfo& p = e.params[i];
    if (p.dir == Dir::Out) continue;
    json item = valueSchema(p.type);
    item["title"] = p.name;
    if (p.dir == Dir::InOut) {
      const std::string also = item.contains("description") ? " " + item["description"].get<std::string>() : "";
      item["description"] = "In and out: sent here, its new value comes back in \"out\"." + also;
    }
    items.push_back(std::move(item));
  }
  const int n = sentCount(e);
  json args = {{"type", "array"}, {"items", false}, {"minItems", n}, {"maxItems", n}};
  if (n) args["prefixItems"] = std::move(items);
  json props = {{"entry", {{"const", e.name}}}, {"args", std::move(args)}};
  json required = {"entry"};
  json s = {{"type", "object"}, {"title", e.name}, {"description", entryDescription(e)}};
  if (e.kind == Kind::GetSet) {
    props["set"] = valueSchema(e.result);
    // Read (with its arguments, if any) or set, never both.
    if (n)
      s["oneOf"] = {{{"required", {"args"}}}, {{"required", {"set"}}}};
    else
      s["not"] = {{"required", {"args", "set"}}};
  } else if (n) {
    required.push_back("args");
  }
  s["properties"] = std::move(props);
  s["required"] = std::move(required);
  s["additionalProperties"] = false;
  return s;
}

json errorContent(const char* description) {
  return {{"description", description}, {"content", {{"application/json", {{"schema", refTo("Error")}}}}}};
}

json jsonContent(const char* description, json schema) {
  return {{"description", description}, {"content", {{"application/json", {{"schema", std::move(schema)}}}}}};
}

json textContent(const char* description, const char* mediaType) {
  return {{"description", description}, {"content", {{mediaType, {{"schema", {{"type", "string"}}}}}}}};
}

// An operation's answers: its own, then the refusals every request may get
// before it reaches a route.
json responses(json ok, std::initializer_list<std::pair<int, const char*>> refusals, bool tokenRequired) {
  json r = {{"200", std::move(ok)}};
  for (const auto& [status, why] : refusals) r[std::to_string(status)] = errorContent(why);
  if (tokenRequired) r["401"] = errorContent("No token, or a wrong one (Authorization: Bearer TOKEN).");
  r["403"] = errorContent("Sent by another site's page (allowed_origins lists the pages that may call).");
  r["421"] = errorContent("The Host header does not name this service (allowed_hosts lists other names for it).");
  return r;
}

json printerIdParameter() {
  return {{"name", "id"},
          {"in", "path"},
          {"required", true},
          {"description", "The printer's id, as GET /printers lists it."},
          {"schema", {{"type", "string"}, {"pattern", "^[A-Za-z0-9_-]{1,32}$"}}}};
}

json fixedSchemas(size_t maxCalls) {
  json typeNames = json::array();
  for (Type t : {Type::Void, Type::Bool, Type::Short, Type::Long, Type::Double, Type::Date, Type::String})
    typeNames.push_back(typeName(t));
  json kindNames = json::array();
  for (Kind k : {Kind::Method, Kind::Get, Kind::GetSet}) kindNames.push_back(kindName(k));

  json s;
  s["Error"] = {{"type", "object"},
                {"description", "Every refusal; a refused request reaches no printer."},
                {"properties", {{"error", {{"type", "string"}}}}},
                {"required", {"error"}}};
  s["Printer"] = {{"type", "object"},
                  {"properties",
                   {{"id", {{"type", "string"}}},
                    {"model", {{"type", "integer"}, {"description", "The fiscal model number."}}},
                    {"modelName", {{"type", "string"}}},
                    {"virtual", {{"type", "boolean"}}},
                    {"port", {{"type", "integer"}}},
                    {"state", {{"type", "string"}, {"enum", {"idle", "busy", "offline"}}}},
                    {"queue", {{"type", "integer"}, {"description", "Requests waiting for this printer."}}},
                    {"error", {{"type", "string"}, {"description", "Why an offline printer does not answer."}}}}},
                  {"required", {"id", "model", "modelName", "virtual", "port", "state", "queue"}}};
  s["Entry"] = {{"type", "object"},
                {"properties",
                 {{"dispid", {{"type", "integer"}}},
                  {"name", {{"type", "string"}}},
                  {"kind", {{"type", "string"}, {"enum", kindNames}}},
                  {"result", {{"type", "string"}, {"enum", typeNames}}},
                  {"params",
                   {{"type", "array"},
                    {"items",
                     {{"type", "object"},
                      {"properties",
                       {{"name", {{"type", "string"}}},
                        {"type", {{"type", "string"}, {"enum", typeNames}}},
                        {"dir", {{"type", "string"}, {"enum", {"in", "out", "inout"}}}},
                        {"form", {{"type", "string"}, {"enum", {"plain", "list", "bytes"}}}}}},
                      {"required", {"name", "type", "dir"}}}}}}}},
                {"required", {"dispid", "name", "kind", "result", "params"}}};
  s["Calls"] = {
      {"description",
       "One call, or a list of calls run in order as one batch that stops at the first "
       "method returning false."},
      {"oneOf",
       {refTo("Call"), {{"type", "array"}, {"items", refTo("Call")}, {"minItems", 1}, {"maxItems", maxCalls}}}}};
  s["CallResult"] = {
      {"type", "object"},
      {"description", "A call that ran, as `tarvion shell --json` prints it."},
      {"properties",
       {{"entry", {{"type", "string"}}},
        {"result",
         {{"description",
           "BOOL, short and long as integers (BOOL as -1, 0 or 1), double as a number, a date as "
           "YYYY-MM-DDTHH:MM:SS, a string as a string; null for a set, an invalid date or a "
           "number that is not finite."}}},
        {"out",
         {{"type", "object"},
          {"description", "The out and in/out parameters by name; a name list is an array of strings."}}},
        {"set", {{"description", "The value given, for a set."}}},
        {"UltimoErro", {{"type", "string"}, {"description", "The message this call left; empty when none."}}}}},
      {"required", {"entry", "result", "UltimoErro"}}};
  s["Counters"] = {
      {"type", "object"},
      {"description", "Read back once the printer answers again after a line died mid-command."},
      {"properties", {{"NumeroCupom", {{"type", "string"}}}, {"CupomFiscalAberto", {{"type", "boolean"}}}}},
      {"required", {"NumeroCupom", "CupomFiscalAberto"}}};
  s["Answer"] = {{"type", "object"},
                 {"properties",
                  {{"printer", {{"type", "string"}}},
                   {"outcome",
                    {{"type", "string"},
                     {"enum", {"done", "failed", "unknown"}},
                     {"description",
                      "done: every call ran; failed: a method returned false and the batch stopped there; "
                      "unknown: the line died mid-command, which may have run (see counters)."}}},
                   {"calls", {{"type", "array"}, {"items", refTo("CallResult")}}},
                   {"counters",
                    {{"anyOf", {refTo("Counters"), {{"type", "null"}}}},
                     {"description", "Only with outcome unknown; null when the printer did not answer again."}}}}},
                 {"required", {"printer", "outcome", "calls"}}};
  return s;
}

}  // namespace

std::string callSchemaName(const char* entryName) {
  return std::string("Call_") + entryName;
}

std::string openApiDocument(bool tokenRequired, size_t maxCalls) {
  json schemas = fixedSchemas(maxCalls);
  json calls = json::array();
  json mapping = json::object();
  size_t count = 0;
  const EntryInfo* table = entryTable(count);
  for (size_t k = 0; k < count; ++k) {
    const EntryInfo& e = table[k];
    if (entryOwnedByService(e)) continue;
    const std::string name = callSchemaName(e.name);
    schemas[name] = callSchema(e);
    calls.push_back(refTo(name));
    mapping[e.name] = ref(name);
  }
  schemas["Call"] = {{"description", "One call of an entry, told apart by \"entry\"."},
                     {"oneOf", std::move(calls)},
                     {"discriminator", {{"propertyName", "entry"}, {"mapping", std::move(mapping)}}}};

  json paths;
  paths["/printers"]["get"] = {
      {"operationId", "listPrinters"},
      {"summary", "The printers and their state"},
      {"responses",
       responses(jsonContent("The printers.", {{"type", "array"}, {"items", refTo("Printer")}}), {}, tokenRequired)}};
  paths["/entries"]["get"] = {
      {"operationId", "listEntries"},
      {"summary", "The entry table, as `tarvion entries --json`"},
      {"responses",
       responses(jsonContent("The entries.", {{"type", "array"}, {"items", refTo("Entry")}}), {}, tokenRequired)}};
  paths["/printers/{id}/paper"]["get"] = {
      {"operationId", "getPaper"},
      {"summary", "A virtual printer's paper so far"},
      {"parameters", json::array({printerIdParameter()})},
      {"responses", responses(textContent("The paper.", "text/plain"),
                              {{404, "No such printer, or one that is not virtual."}}, tokenRequired)}};
  json ok = jsonContent("The batch ran, whatever its outcome.", refTo("Answer"));
  ok["headers"]["Idempotent-Replayed"] = {
      {"description", "true when this is the stored answer of an earlier request with the same key."},
      {"schema", {{"type", "string"}, {"enum", {"true"}}}}};
  paths["/printers/{id}/calls"]["post"] = {
      {"operationId", "postCalls"},
      {"summary", "Runs one call or a batch of calls on a printer"},
      {"parameters",
       {printerIdParameter(),
        {{"name", "Idempotency-Key"},
         {"in", "header"},
         {"required", false},
         {"description",
          "Runs the request at most once per key and printer; a retry with the same key and body "
          "gets the stored answer."},
         {"schema", {{"type", "string"}, {"pattern", "^[!-~]{1,128}$"}}}}}},
      {"requestBody", {{"required", true}, {"content", {{"application/json", {{"schema", refTo("Calls")}}}}}}},
      {"responses", responses(std::move(ok),
                              {{400, "The body is not JSON, or the Idempotency-Key is malformed."},
                               {404, "No such printer."},
                               {409, "The Idempotency-Key was used for another body on this printer."},
                               {413, "The body is too long (max_body_bytes)."},
                               {415, "The body is not sent as application/json."},
                               {422, "An unknown or refused entry, a wrong argument count or type, or a bad value."},
                               {503,
                                "The printer is offline, too many keys are held, the journal cannot be written or the "
                                "service is stopping; nothing reached the printer and the key stays free."}},
                              tokenRequired)}};
  paths["/metrics"]["get"] = {{"operationId", "getMetrics"},
                              {"summary", "The service's metrics in the Prometheus text format"},
                              {"responses", responses(textContent("The metrics.", "text/plain"), {}, tokenRequired)}};
  paths["/openapi.json"]["get"] = {
      {"operationId", "getOpenApi"},
      {"summary", "This document"},
      {"responses", responses(jsonContent("The document.", {{"type", "object"}}), {}, tokenRequired)}};

  json doc = {{"openapi", "3.1.0"},
              {"info",
               {{"title", "tarvion serve"},
                {"version", TARVION_VERSION},
                {"description",
                 "The printers of a shop over HTTP/JSON: each printer runs its calls one at a time, "
                 "in arrival order."}}},
              {"paths", std::move(paths)},
              {"components",
               {{"schemas", std::move(schemas)},
                {"securitySchemes", {{"bearerToken", {{"type", "http"}, {"scheme", "bearer"}}}}}}}};
  if (tokenRequired) doc["security"] = {{{"bearerToken", json::array()}}};
  return doc.dump();
}

}  // namespace tarvion::serve
