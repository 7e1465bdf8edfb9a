#!/usr/bin/env python3
"""Prints the dispatch interface _DTarvion as client.exe describes a type
library, computed from `tarvion entries --json` on standard input: one line per
function, `dispid name method|get|put RESULT name:TYPE:dir...`, a get/set
property as a get line and a put line (the put line lists types only)."""
import json
import sys

VT = {'BOOL': 'BOOL', 'short': 'I2', 'long': 'I4', 'double': 'R8', 'date': 'DATE', 'string': 'BSTR'}
PARAM_VT = {'BOOL': 'BOOL', 'bool': 'BOOL', 'short': 'I2', 'long': 'I4', 'double': 'R8', 'date': 'DATE', 'string': 'BSTR'}


def param(p):
    vt = PARAM_VT[p['type']]
    if p['dir'] == 'in':
        return f"{p['name']}:{vt}:in"
    return f"{p['name']}:{vt}*:inout"  # out values travel through the host's reference


def main():
    entries = json.load(sys.stdin)
    for e in entries:
        params = ' '.join(param(p) for p in e['params'])
        kind = {'method': 'method', 'get': 'get', 'get/set': 'get'}[e['kind']]
        print(' '.join(x for x in (str(e['dispid']), e['name'], kind, VT[e['result']], params) if x))
        if e['kind'] == 'get/set':
            puts = ' '.join(f"{PARAM_VT[p['type']]}:in" for p in e['params'])
            print(' '.join(x for x in (str(e['dispid']), e['name'], 'put', 'VOID', puts, f"{VT[e['result']]}:in") if x))


if __name__ == '__main__':
    main()
