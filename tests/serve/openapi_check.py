#!/usr/bin/env python3
"""`tarvion serve`'s /openapi.json, as a client generator would use it.

Starts the built tool with a virtual printer, checks the document with an
OpenAPI validator, then builds a whole sale from it alone: each call's
arguments are put in the order and given the JSON types its schema says,
validated against the schema, and posted. The sale must be done and the
paper must grow. Every call schema must also accept a call built from it and
refuse one with a wrong-typed argument.

Usage: openapi_check.py TARVION_TOOL
Exit 77 (skipped) when this interpreter lacks the validators.
"""
import os
import sys
import tempfile

from serve_process import running

SKIP = 77
try:
    import jsonschema
    import requests
    from openapi_spec_validator import validate
except ImportError as missing:
    print(f"openapi_check: skipped: {sys.executable} lacks {missing.name} "
          "(pip install openapi-spec-validator jsonschema requests)")
    sys.exit(SKIP)

REF = "#/components/schemas/"

http = requests.Session()


class Document:
    def __init__(self, doc):
        self.doc = doc
        self.schemas = doc["components"]["schemas"]
        body = doc["paths"]["/printers/{id}/calls"]["post"]["requestBody"]
        self.body_schema = body["content"]["application/json"]["schema"]
        calls = self.resolve(self.body_schema)
        one = self.resolve(calls["oneOf"][0])
        self.by_entry = {name: self.resolve({"$ref": ref})
                         for name, ref in one["discriminator"]["mapping"].items()}

    def resolve(self, schema):
        while "$ref" in schema:
            assert schema["$ref"].startswith(REF), schema
            schema = self.schemas[schema["$ref"][len(REF):]]
        return schema

    def validator(self, schema):
        # The schema with the document's components next to it, so its
        # references resolve.
        root = dict(schema, components=self.doc["components"])
        return jsonschema.Draft202012Validator(root)

    def call(self, entry, values):
        """A call of the entry with its arguments taken from values by name,
        in the schema's order and with the schema's JSON types."""
        schema = self.by_entry[entry]
        items = schema["properties"]["args"].get("prefixItems", [])
        args = [typed(item, values[item["title"]]) for item in items]
        call = {"entry": entry, "args": args} if args else {"entry": entry}
        self.validator(schema).validate(call)
        return call


def typed(schema, value):
    kinds = schema["type"] if isinstance(schema["type"], list) else [schema["type"]]
    if "boolean" in kinds:
        return value if isinstance(value, bool) else str(value).upper() in ("1", "TRUE", "SIM")
    if "integer" in kinds:
        return int(value)
    if "number" in kinds:
        return float(str(value).replace(",", "."))
    return str(value)


def sample(schema):
    kinds = schema["type"] if isinstance(schema["type"], list) else [schema["type"]]
    if "boolean" in kinds:
        return False
    if "integer" in kinds:
        return schema["minimum"]
    if "number" in kinds:
        return 0.5
    return "2024-02-29" if "pattern" in schema else "texto"


def wrong(schema):
    kinds = schema["type"] if isinstance(schema["type"], list) else [schema["type"]]
    return 1 if kinds == ["string"] else "1"


def check_every_schema(document):
    """Each call schema takes a call built from it and refuses a wrong type at
    each position, as a real JSON Schema validator reads it."""
    for entry, schema in document.by_entry.items():
        v = document.validator(schema)
        items = schema["properties"]["args"].get("prefixItems", [])
        args = [sample(item) for item in items]
        v.validate({"entry": entry, "args": args})
        for i, item in enumerate(items):
            bad = list(args)
            bad[i] = wrong(item)
            assert not v.is_valid({"entry": entry, "args": bad}), (entry, i)
        assert not v.is_valid({"entry": entry, "args": args + [1]}), entry
        assert not v.is_valid({"entry": entry.lower(), "args": args}), entry
        if "set" in schema["properties"]:
            v.validate({"entry": entry, "set": sample(schema["properties"]["set"])})
            assert not v.is_valid({"entry": entry, "args": args, "set": False}), entry
        else:
            assert not v.is_valid({"entry": entry, "set": 1}), entry


def main():
    tool = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="tarvion-openapi-") as work, \
            running(tool, work, "--virtual", f"treino=1,state={work}/state.json,paper={work}/paper.txt") as base:
        r = http.get(base + "/openapi.json", timeout=10)
        assert r.status_code == 200, r.status_code
        assert r.headers["Content-Type"].startswith("application/json"), r.headers["Content-Type"]
        size = len(r.content)
        validate(r.json())
        document = Document(r.json())
        check_every_schema(document)

        # What a till form holds, by the names the document gives the parameters.
        sale = [
            ("AbreCupomFiscal", {}),
            ("RegistraItemFiscal", {"strCodigoProduto": "7891000100103", "strDescricaoProduto": "CAFE TORRADO 500G",
                                    "strUnidade": "UN", "nAliquota": "18", "nQuantidade": "2",
                                    "nValorUnitario": "10,50", "nValorDesconto": "0"}),
            ("RegistraItemFiscal", {"strCodigoProduto": "7891000200200", "strDescricaoProduto": "ARROZ TIPO 1 5KG",
                                    "strUnidade": "PC", "nAliquota": "7", "nQuantidade": "1",
                                    "nValorUnitario": "24,90", "nValorDesconto": "0"}),
            ("TotalizaCupomDesconto", {"nDesconto": "0", "nTotalValue": "0"}),
            ("RegistraPagamento", {"strPaymentType": "Dinheiro", "nValorPagamento": "50,00"}),
            ("FechaCupomFiscal", {"strPrintMessage": "OBRIGADO PELA PREFERENCIA", "nTotalValue": "0"}),
            ("RetornaNumeroCupom", {}),
        ]
        calls = [document.call(entry, values) for entry, values in sale]
        assert calls[1]["args"][3:6] == [18.0, 2.0, 10.5], calls[1]
        document.validator(document.body_schema).validate(calls)

        paper = base + "/printers/treino/paper"
        before = http.get(paper, timeout=10).text
        r = http.post(base + "/printers/treino/calls", json=calls,
                          headers={"Idempotency-Key": "openapi-venda-1"}, timeout=60)
        assert r.status_code == 200, (r.status_code, r.text)
        answer = r.json()
        document.validator(document.resolve({"$ref": REF + "Answer"})).validate(answer)
        assert answer["outcome"] == "done", answer
        assert [c["entry"] for c in answer["calls"]] == [entry for entry, _ in sale], answer
        assert answer["calls"][-1]["out"]["strNumeroCupom"], answer
        after = http.get(paper, timeout=10).text
        assert len(after) > len(before) and "ARROZ TIPO 1 5KG" in after[len(before):], after

        # A call the schema refuses is refused by the service too.
        bad = dict(calls[4], args=["Dinheiro", "50,00"])
        assert not document.validator(document.by_entry["RegistraPagamento"]).is_valid(bad)
        r = http.post(base + "/printers/treino/calls", json=bad, timeout=10)
        assert r.status_code == 422 and "nValorPagamento" in r.json()["error"], (r.status_code, r.text)
        print(f"openapi_check: a document of {size} bytes with {len(document.by_entry)} entries; the sale from it is done")


if __name__ == "__main__":
    main()
