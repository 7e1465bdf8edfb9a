// `tarvion serve`'s OpenAPI description: it lists every entry the service
// takes, each schema says what the service's own binder accepts, and nothing
// else (tests/serve/openapi_check.py runs a real validator and a sale from it).
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "tools/serve/openapi.h"
#include "tools/serve/service.h"

namespace {

using nlohmann::json;
using tarvion::EntryInfo;
using tarvion::serve::callSchemaName;
using tarvion::serve::openApiDocument;
using tarvion::serve::parseCall;

const char* const kDatePattern =
    "^(0[1-9][0-9]{2}|[1-9][0-9]{3})-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01])"
    "(T([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9])?$";

const json& document() {
  static const json doc = json::parse(openApiDocument(false));
  return doc;
}

const json& schemas() {
  return document()["components"]["schemas"];
}

// The schema without its prose, for comparing the shape only.
json withoutDescriptions(json j) {
  if (j.is_object()) {
    j.erase("description");
    for (auto& [k, v] : j.items()) v = withoutDescriptions(v);
  } else if (j.is_array()) {
    for (auto& v : j) v = withoutDescriptions(v);
  }
  return j;
}

bool accepted(const json& call, std::string& error) {
  tarvion::script::Call parsed;
  return parseCall(call, parsed, error);
}

TEST(ServeOpenApi, ListsEveryEntryTheServiceTakesAndEveryPath) {
  const json& doc = document();
  EXPECT_EQ(doc["openapi"], "3.1.0");
  EXPECT_TRUE(std::regex_match(doc["info"]["version"].get<std::string>(), std::regex("[0-9]+\\.[0-9]+\\.[0-9]+")));

  std::set<std::string> listed;
  for (const json& r : schemas()["Call"]["oneOf"]) listed.insert(r["$ref"].get<std::string>());
  const json& mapping = schemas()["Call"]["discriminator"]["mapping"];
  size_t count = 0, refused = 0;
  const EntryInfo* table = tarvion::entryTable(count);
  for (size_t k = 0; k < count; ++k) {
    const EntryInfo& e = table[k];
    const std::string ref = "#/components/schemas/" + callSchemaName(e.name);
    std::string error;
    const bool callable = accepted({{"entry", e.name}, {"args", json::array()}}, error) ||
                          error.find("not available here") == std::string::npos;
    EXPECT_EQ(listed.count(ref), callable ? 1u : 0u) << e.name;
    EXPECT_EQ(schemas().contains(callSchemaName(e.name)), callable) << e.name;
    if (callable) {
      EXPECT_EQ(mapping.value(e.name, ""), ref) << e.name;
    }
    refused += !callable;
  }
  EXPECT_EQ(refused, 12u);
  EXPECT_EQ(listed.size(), count - refused);
  EXPECT_FALSE(schemas().contains(callSchemaName("InitializeECF")));
  EXPECT_FALSE(mapping.contains("CloseComm"));

  std::set<std::string> paths;
  for (const auto& [path, item] : doc["paths"].items()) paths.insert(path);
  EXPECT_EQ(paths, (std::set<std::string>{"/printers", "/entries", "/printers/{id}/paper", "/printers/{id}/calls",
                                          "/metrics", "/openapi.json"}));
  const json& post = doc["paths"]["/printers/{id}/calls"]["post"];
  EXPECT_EQ(post["requestBody"]["content"]["application/json"]["schema"]["$ref"], "#/components/schemas/Calls");
  for (const char* status : {"200", "400", "403", "404", "409", "413", "415", "421", "422", "503"})
    EXPECT_TRUE(post["responses"].contains(status)) << status;
  EXPECT_EQ(schemas()["Calls"]["oneOf"][1]["maxItems"], 500);
  EXPECT_EQ(schemas()["Answer"]["properties"]["outcome"]["enum"], json::parse(R"(["done", "failed", "unknown"])"));

  // The token: asked of every operation only when the service has one.
  EXPECT_FALSE(doc.contains("security"));
  EXPECT_FALSE(post["responses"].contains("401"));
  const json withToken = json::parse(openApiDocument(true, 20));
  EXPECT_EQ(withToken["security"], json::parse(R"([{"bearerToken": []}])"));
  EXPECT_EQ(withToken["components"]["securitySchemes"]["bearerToken"],
            json::parse(R"({"type": "http", "scheme": "bearer"})"));
  for (const auto& [path, item] : withToken["paths"].items())
    for (const auto& [method, op] : item.items()) EXPECT_TRUE(op["responses"].contains("401")) << path;
  EXPECT_EQ(withToken["components"]["schemas"]["Calls"]["oneOf"][1]["maxItems"], 20);
}

// Written by hand: a date, an out parameter left out, an in/out one kept, a
// double, an indexed property and a settable one.
TEST(ServeOpenApi, ChosenEntriesHaveExactlyTheirSchema) {
  const std::string date = std::string(R"({"type": "string", "pattern": ")") + kDatePattern + "\"";
  const std::pair<const char*, std::string> cases[] = {
      {"LeituraMFSerialData",
       R"({"type": "object", "title": "LeituraMFSerialData", "additionalProperties": false,
           "required": ["entry", "args"],
           "properties": {"entry": {"const": "LeituraMFSerialData"},
             "args": {"type": "array", "items": false, "minItems": 3, "maxItems": 3, "prefixItems": [
               )" +
           date + R"(, "title": "dtInicial"},
               )" +
           date + R"(, "title": "dtFinal"},
               {"type": ["boolean", "integer"], "minimum": -32768, "maximum": 32767, "title": "bResumida"}]}}})"},
      {"EnviaComandoECF",
       R"({"type": "object", "title": "EnviaComandoECF", "additionalProperties": false,
           "required": ["entry", "args"],
           "properties": {"entry": {"const": "EnviaComandoECF"},
             "args": {"type": "array", "items": false, "minItems": 3, "maxItems": 3, "prefixItems": [
               {"type": "string", "title": "strComando"},
               {"type": "integer", "format": "int32", "minimum": -2147483648, "maximum": 2147483647,
                "title": "intTamCmd"},
               {"type": "integer", "format": "int32", "minimum": -2147483648, "maximum": 2147483647,
                "title": "intTamResp"}]}}})"},
      {"RegistraPagamento",
       R"({"type": "object", "title": "RegistraPagamento", "additionalProperties": false,
           "required": ["entry", "args"],
           "properties": {"entry": {"const": "RegistraPagamento"},
             "args": {"type": "array", "items": false, "minItems": 2, "maxItems": 2, "prefixItems": [
               {"type": "string", "title": "strPaymentType"},
               {"type": "number", "format": "double", "title": "nValorPagamento"}]}}})"},
      {"RetornaNumeroCupom",
       R"({"type": "object", "title": "RetornaNumeroCupom", "additionalProperties": false, "required": ["entry"],
           "properties": {"entry": {"const": "RetornaNumeroCupom"},
             "args": {"type": "array", "items": false, "minItems": 0, "maxItems": 0}}})"},
      {"TaxPercents",
       R"({"type": "object", "title": "TaxPercents", "additionalProperties": false, "required": ["entry", "args"],
           "properties": {"entry": {"const": "TaxPercents"},
             "args": {"type": "array", "items": false, "minItems": 1, "maxItems": 1, "prefixItems": [
               {"type": "integer", "format": "int32", "minimum": -32768, "maximum": 32767,
                "title": "intTaxNumber"}]}}})"},
      {"CashDrawerAttached",
       R"({"type": "object", "title": "CashDrawerAttached", "additionalProperties": false, "required": ["entry"],
           "not": {"required": ["args", "set"]},
           "properties": {"entry": {"const": "CashDrawerAttached"},
             "args": {"type": "array", "items": false, "minItems": 0, "maxItems": 0},
             "set": {"type": ["boolean", "integer"], "minimum": -32768, "maximum": 32767}}})"},
  };
  for (const auto& [name, expected] : cases)
    EXPECT_EQ(withoutDescriptions(schemas()[callSchemaName(name)]), json::parse(expected)) << name;
  // What an in/out parameter does is said where a client reads it.
  const json& inOut = schemas()[callSchemaName("EnviaComandoECF")]["properties"]["args"]["prefixItems"][2];
  EXPECT_NE(inOut["description"].get<std::string>().find("out"), std::string::npos);
}

// A value each parameter's schema allows, built from the schema alone.
json sampleOf(const json& s) {
  if (s["type"].is_array()) return true;  // BOOL
  const std::string type = s["type"];
  if (type == "integer") return s["maximum"];
  if (type == "number") return 24.9;
  if (s.contains("pattern")) return "2024-02-29T23:59:59";
  return "TEXTO";
}

// Values each parameter's schema refuses: another JSON type, or past its range
// or its pattern.
std::vector<json> wrongOf(const json& s) {
  if (s["type"].is_array()) return {"TRUE", 32768, -32769, 1.5, nullptr};
  const std::string type = s["type"];
  if (type == "integer")
    return {"1", 1.5, true, s["maximum"].get<long long>() + 1, s["minimum"].get<long long>() - 1, json::array()};
  if (type == "number") return {"24.90", true, nullptr};
  if (s.contains("pattern"))
    return {20240229, "2024-13-01", "2024-02-29 10:00:00", "2024-02-29T24:00:00", "0099-12-31", "29/02/2024"};
  return {1, true, json::object()};
}

// Every call schema against the service's parseCall: a call built from the
// schema is taken, one that breaks it is refused and names the argument the
// schema names at that position, so the two cannot drift apart.
TEST(ServeOpenApi, EverySchemaTakesWhatTheServiceTakesAndNothingElse) {
  size_t checked = 0;
  for (const json& r : schemas()["Call"]["oneOf"]) {
    const json& s = schemas()[r["$ref"].get<std::string>().substr(std::string("#/components/schemas/").size())];
    const std::string name = s["properties"]["entry"]["const"];
    SCOPED_TRACE(name);
    const json& argsSchema = s["properties"]["args"];
    const json items = argsSchema.value("prefixItems", json::array());
    ASSERT_EQ(argsSchema["maxItems"], items.size());
    ASSERT_EQ(argsSchema["minItems"], items.size());
    json args = json::array();
    for (const json& item : items) args.push_back(sampleOf(item));

    std::string error;
    EXPECT_TRUE(accepted({{"entry", name}, {"args", args}}, error)) << error;
    const bool argsRequired = std::find(s["required"].begin(), s["required"].end(), "args") != s["required"].end();
    EXPECT_EQ(accepted({{"entry", name}}, error), !argsRequired) << error;

    for (size_t i = 0; i < items.size(); ++i) {
      // A date's pattern, read as a client's validator reads it, takes the
      // dates the binder takes and none of those it refuses.
      const std::regex pattern(items[i].value("pattern", "^$"));
      for (const char* date : {"2024-02-29", "0100-01-01", "9999-12-31T23:59:59", "2024-02-29T00:00:00"}) {
        if (!items[i].contains("pattern")) break;
        json good = args;
        good[i] = date;
        EXPECT_TRUE(std::regex_search(date, pattern)) << date;
        EXPECT_TRUE(accepted({{"entry", name}, {"args", good}}, error)) << error;
      }
      for (const json& wrong : wrongOf(items[i])) {
        json bad = args;
        bad[i] = wrong;
        if (wrong.is_string()) {
          EXPECT_FALSE(std::regex_search(wrong.get<std::string>(), pattern)) << wrong;
        }
        EXPECT_FALSE(accepted({{"entry", name}, {"args", bad}}, error)) << i << " " << wrong.dump();
        EXPECT_NE(error.find("argument " + std::to_string(i + 1) + " (" + items[i]["title"].get<std::string>() + ")"),
                  std::string::npos)
            << error;
      }
    }
    json longer = args;
    longer.push_back(args.empty() ? json("TEXTO") : args.back());
    EXPECT_FALSE(accepted({{"entry", name}, {"args", longer}}, error));
    if (!args.empty()) {
      json shorter = args;
      shorter.erase(shorter.size() - 1);
      EXPECT_FALSE(accepted({{"entry", name}, {"args", shorter}}, error));
    }

    const bool settable = s["properties"].contains("set");
    const json setValue = settable ? sampleOf(s["properties"]["set"]) : json(1);
    EXPECT_EQ(accepted({{"entry", name}, {"set", setValue}}, error), settable) << error;
    if (settable) {
      for (const json& wrong : wrongOf(s["properties"]["set"]))
        EXPECT_FALSE(accepted({{"entry", name}, {"set", wrong}}, error)) << wrong.dump();
      EXPECT_FALSE(accepted({{"entry", name}, {"args", args}, {"set", setValue}}, error));
    }
    EXPECT_FALSE(accepted({{"entry", name}, {"args", args}, {"extra", 1}}, error));
    ++checked;
  }
  EXPECT_GT(checked, 150u);
}

}  // namespace
