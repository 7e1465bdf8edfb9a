#!/usr/bin/env python3
"""Generates the control's dispatch glue from src/control/entries.tab.

Outputs (in the given folder):
  entries_table.inc          entry descriptions, parameter lists and handlers
  tarvion/ctrl_methods.inc   one typed member of CTarvionCtrl per entry
  tarvion.idl                the type library (dispatch and event interfaces, coclass)

With --idl-only only tarvion.idl is written.
"""
import os
import sys

TYPES = {  # parameter type -> (Type, Dir, TextForm)
    'string': ('String', 'In', 'Plain'), 'string_out': ('String', 'Out', 'Plain'),
    'strlist_out': ('String', 'Out', 'List'), 'bytes_out': ('String', 'Out', 'Bytes'),
    'bool': ('Bool', 'In', 'Plain'), 'bool_out': ('Bool', 'Out', 'Plain'),
    'short': ('Short', 'In', 'Plain'), 'long': ('Long', 'In', 'Plain'),
    'long_inout': ('Long', 'InOut', 'Plain'), 'double': ('Double', 'In', 'Plain'),
    'date': ('Date', 'In', 'Plain'), 'date_out': ('Date', 'Out', 'Plain'),
}
RESULTS = {'BOOL': 'Bool', 'short': 'Short', 'long': 'Long', 'double': 'Double', 'date': 'Date', 'string': 'String'}
KINDS = {'method': 'Method', 'get': 'Get', 'getset': 'GetSet'}
CPP_RESULT = {'BOOL': 'int', 'short': 'int16_t', 'long': 'int32_t', 'double': 'double', 'date': 'double',
              'string': 'std::string'}
IDL_TYPE = {'BOOL': 'VARIANT_BOOL', 'short': 'short', 'long': 'long', 'double': 'double', 'date': 'DATE',
            'string': 'BSTR'}


def parse(path):
    entries = []
    for n, raw in enumerate(open(path, encoding='utf-8'), 1):
        line = raw.split('#', 1)[0].strip()
        if not line:
            continue
        f = line.split()
        e = {'id': int(f[0]), 'name': f[1], 'kind': f[2], 'result': f[3], 'handler': f[4], 'setter': None,
             'params': []}
        rest = f[5:]
        if rest and rest[0].startswith('set='):
            e['setter'] = rest[0][4:]
            rest = rest[1:]
        for p in rest:
            name, t = p.split(':')
            if t not in TYPES:
                sys.exit(f'{path}:{n}: unknown parameter type {t}')
            e['params'].append((name, t))
        if e['kind'] not in KINDS or e['result'] not in RESULTS:
            sys.exit(f'{path}:{n}: bad kind or result')
        if (e['kind'] == 'getset') != (e['setter'] is not None):
            sys.exit(f'{path}:{n}: only getset entries have a setter')
        entries.append(e)
    ids = [e['id'] for e in entries]
    if ids != sorted(ids) or len(set(ids)) != len(ids):
        sys.exit(f'{path}: dispatch identifiers must be unique and ascending')
    return entries


def arg_expr(i, t):
    if t in ('string', 'string_out', 'strlist_out', 'bytes_out'):
        return f'a[{i}].s'
    if t in ('bool', 'bool_out', 'short', 'long', 'long_inout'):
        return f'a[{i}].i'
    if t == 'double':
        return f'a[{i}].d'
    if t == 'date':
        return f'toDate(a[{i}])'
    raise SystemExit(f'type {t} cannot be forwarded; give the entry its own handler')


def wrap_result(res, expr):
    return {'BOOL': f'Value::boolean({expr})', 'short': f'Value::shortInt({expr})', 'long': f'Value::longInt({expr})',
            'double': f'Value::real({expr})', 'date': f'fromDate({expr})', 'string': f'Value::string({expr})'}[res]


def handler_body(e):
    h = e['handler']
    res = e['result']
    zero = f'Value::zero(Type::{RESULTS[res]})'
    if h == 'own':
        return None
    how, target = h.split(':', 1)
    drv = 'c.check' if how in ('chk', 'chkfield') else 'c.fiscal'
    lines = [f'  CECFBase* d = {drv}.get();', f'  if (!d) return {zero};']
    if how in ('fwd', 'chk'):
        for i, (_, t) in enumerate(e['params']):
            if t in ('string_out',):
                lines.append(f'  a[{i}].s.clear();')
        args = ', '.join(arg_expr(i, t) for i, (_, t) in enumerate(e['params']))
        lines.append(f'  return {wrap_result(res, f"d->{target}({args})")};')
    else:
        lines.append(f'  return {wrap_result(res, f"d->{target}")};')
    return '\n'.join(lines)


def setter_body(e):
    s = e['setter']
    if s is None or s == 'own':
        return None
    lines = ['  CECFBase* d = c.fiscal.get();', '  if (!d) return;']
    if s == 'field':
        lines.append(f'  d->{e["handler"].split(":", 1)[1]} = v.i != 0 ? 1 : 0;')
    elif s.startswith('fwd:'):
        lines.append(f'  d->{s[4:]}(v.i);')
    return '\n'.join(lines)


def gen_table(entries):
    out = ['// Generated from src/control/entries.tab by scripts/gen_entries.py. Do not edit.', '']
    for e in entries:
        if e['params']:
            ps = ', '.join('{"%s", Type::%s, Dir::%s, TextForm::%s}' % ((n,) + TYPES[t]) for n, t in e['params'])
            out.append(f'static const ParamInfo kParams{e["id"]}[] = {{{ps}}};')
    out.append('')
    out.append('static const EntryInfo kEntries[] = {')
    for e in entries:
        p = f'kParams{e["id"]}' if e['params'] else 'nullptr'
        out.append(f'    {{{e["id"]}, "{e["name"]}", Kind::{KINDS[e["kind"]]}, Type::{RESULTS[e["result"]]}, {p}, '
                   f'{len(e["params"])}}},')
    out.append('};')
    out.append('')
    for e in entries:
        body = handler_body(e)
        if body is None:
            out.append(f'Value entry_{e["name"]}(ControlState& c, Value* a);')
        else:
            out.append(f'static Value entry_{e["name"]}(ControlState& c, [[maybe_unused]] Value* a) {{\n{body}\n}}')
        if e['setter'] is not None:
            sb = setter_body(e)
            if sb is None:
                out.append(f'void set_{e["name"]}(ControlState& c, const Value& v);')
            else:
                out.append(f'static void set_{e["name"]}(ControlState& c, const Value& v) {{\n{sb}\n}}')
    out.append('')
    out.append('static const EntryImpl kImpl[] = {')
    for e in entries:
        s = f'&set_{e["name"]}' if e['setter'] is not None else 'nullptr'
        out.append(f'    {{&entry_{e["name"]}, {s}}},')
    out.append('};')
    return '\n'.join(out) + '\n'


def cpp_param(n, t):
    return {'string': f'const std::string& {n}', 'string_out': f'std::string& {n}',
            'strlist_out': f'std::string& {n}', 'bytes_out': f'std::string& {n}', 'bool': f'int {n}',
            'bool_out': f'int& {n}', 'short': f'int16_t {n}', 'long': f'int32_t {n}',
            'long_inout': f'int32_t& {n}', 'double': f'double {n}', 'date': f'double {n}',
            'date_out': f'double& {n}'}[t]


def boxed(n, t):
    typ = TYPES[t][0]
    if typ == 'String':
        return f'Value::string({n})' if t == 'string' else 'Value::zero(Type::String)'
    if typ == 'Bool':
        return f'Value::boolean({n})'
    if typ == 'Short':
        return f'Value::shortInt({n})'
    if typ == 'Long':
        return f'Value::longInt({n})'
    if typ == 'Double':
        return f'Value::real({n})'
    return f'Value::date({n})'


def unboxed(i, t):
    typ = TYPES[t][0]
    return {'String': f'a[{i}].s', 'Bool': f'a[{i}].i', 'Long': f'a[{i}].i', 'Date': f'a[{i}].d'}[typ]


def gen_methods(entries):
    out = ['// Generated from src/control/entries.tab by scripts/gen_entries.py. Do not edit.',
           '// Included inside the body of class CTarvionCtrl.', '']
    for e in entries:
        ret = CPP_RESULT[e['result']]
        params = ', '.join(cpp_param(n, t) for n, t in e['params'])
        box = ', '.join(boxed(n, t) for n, t in e['params'])
        if e['params'] and any(t == 'bytes_out' for _, t in e['params']):
            pass
        get = {'BOOL': 'r.i', 'short': 'static_cast<int16_t>(r.i)', 'long': 'r.i', 'double': 'r.d', 'date': 'r.d',
               'string': 'std::move(r.s)'}[e['result']]
        body = [f'std::vector<Value> a{{{box}}};' if e['params'] else 'std::vector<Value> a;']
        for i, (n, t) in enumerate(e['params']):
            if t == 'long_inout':
                continue
        body.append(f'Value r = Invoke({e["id"]}, a);')
        for i, (n, t) in enumerate(e['params']):
            if TYPES[t][1] != 'In':
                body.append(f'{n} = {unboxed(i, t)};')
        body.append(f'return {get};')
        out.append(f'{ret} {e["name"]}({params}) {{ ' + ' '.join(body) + ' }')
        if e['setter'] is not None:
            out.append(f'void Set{e["name"]}(int value) {{ SetProperty(*findEntry({e["id"]}), Value::boolean(value)); }}')
    return '\n'.join(out) + '\n'


# The type library's identity. The COM server (src/control/com/com_ids.h) uses the
# same identifiers; registration fails loudly if the two ever disagree.
LIBRARY = {
    'name': 'TarvionLib', 'uuid': '0D6F643A-0BA4-419E-8B07-E2EB235A6543', 'version': '1.0',
    'help': 'Tarvion ActiveX Control module',
}
DISPINTERFACE = {'name': '_DTarvion', 'uuid': '2FD5563F-C739-41F1-82E3-8E35BC0FF593',
                 'help': 'Dispatch interface for Tarvion Control'}
EVENTS = {'name': '_DTarvionEvents', 'uuid': '5FAF3A9B-70FB-48F1-8C71-3C6DD5FC172B',
          'help': 'Event interface for Tarvion Control'}
COCLASS = {'name': 'Tarvion', 'uuid': 'E6F0942A-3030-43AA-8C6E-F3B5305C27D8', 'help': 'Tarvion Control'}

# Parameter types as the dispatch interface shows them. Everything a driver hands
# back travels through a reference the host already owns, so those are [in, out].
IDL_PARAM = {'string': ('[in]', 'BSTR'), 'string_out': ('[in, out]', 'BSTR*'),
             'strlist_out': ('[in, out]', 'BSTR*'), 'bytes_out': ('[in, out]', 'BSTR*'),
             'bool': ('[in]', 'VARIANT_BOOL'), 'bool_out': ('[in, out]', 'VARIANT_BOOL*'),
             'short': ('[in]', 'short'), 'long': ('[in]', 'long'), 'long_inout': ('[in, out]', 'long*'),
             'double': ('[in]', 'double'), 'date': ('[in]', 'DATE'), 'date_out': ('[in, out]', 'DATE*')}


def gen_idl(entries):
    """The whole type library: widl compiles it (with automation_base.idl for the
    few base declarations it needs) into the .tlb that the DLL embeds."""
    out = ['// Generated from src/control/entries.tab by scripts/gen_entries.py. Do not edit.',
           '// Compile with widl -t; the DLL embeds the result as its TYPELIB resource 1.',
           'import "automation_base.idl";', '',
           f'[uuid({LIBRARY["uuid"]}), version({LIBRARY["version"]}), helpstring("{LIBRARY["help"]}"), control]',
           f'library {LIBRARY["name"]}', '{', '  importlib("stdole2.tlb");', '',
           f'  [uuid({DISPINTERFACE["uuid"]}), helpstring("{DISPINTERFACE["help"]}")]',
           f'  dispinterface {DISPINTERFACE["name"]}', '  {', '    properties:', '    methods:']
    for e in entries:
        ps = ', '.join(f'{IDL_PARAM[t][0]} {IDL_PARAM[t][1]} {n}' for n, t in e['params'])
        r = IDL_TYPE[e['result']]
        if e['kind'] == 'method':
            out.append(f'    [id({e["id"]})] {r} {e["name"]}({ps});')
        else:
            out.append(f'    [id({e["id"]}), propget] {r} {e["name"]}({ps});')
            if e['kind'] == 'getset':
                sep = ', ' if ps else ''
                out.append(f'    [id({e["id"]}), propput] void {e["name"]}({ps}{sep}[in] {r} newValue);')
    out += ['  };', '',
            f'  [uuid({EVENTS["uuid"]}), helpstring("{EVENTS["help"]}")]',
            f'  dispinterface {EVENTS["name"]}', '  {', '    properties:', '    methods:', '  };', '',
            f'  [uuid({COCLASS["uuid"]}), helpstring("{COCLASS["help"]}"), control]',
            f'  coclass {COCLASS["name"]}', '  {',
            f'    [default] dispinterface {DISPINTERFACE["name"]};',
            f'    [default, source] dispinterface {EVENTS["name"]};', '  };', '};']
    return '\n'.join(out) + '\n'


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    old = open(path, encoding='utf-8').read() if os.path.exists(path) else None
    if old != text:
        open(path, 'w', encoding='utf-8').write(text)


def main():
    args = sys.argv[1:]
    # --idl-only: the Windows build writes the type library's description into
    # a folder of its own, without racing the C++ glue generation.
    idl_only = '--idl-only' in args
    args = [a for a in args if a != '--idl-only']
    table, outdir = args[0], args[1]
    entries = parse(table)
    if not idl_only:
        write(os.path.join(outdir, 'entries_table.inc'), gen_table(entries))
        write(os.path.join(outdir, 'tarvion', 'ctrl_methods.inc'), gen_methods(entries))
    write(os.path.join(outdir, 'tarvion.idl'), gen_idl(entries))


if __name__ == '__main__':
    main()
