"""Whole sales from Python: against a virtual printer in this process (through
libtarvion-emulator) and against `tarvion emulate` on a pseudo-terminal."""
import datetime
import os
import subprocess
import threading

import pytest

import tarvion

INIT = (115200, 0, 8, 1, 0, True, True)  # speed, parity, data bits, stop bits, flow, open, read info


def sale(ctrl, port):
    """A receipt with an item, a discount and a payment, then a reading."""
    assert ctrl.InitializeECF(1, port, *INIT), ctrl.UltimoErro
    assert ctrl.AbreCupomFiscal() is True, ctrl.UltimoErro
    assert ctrl.last_outcome == "done"
    # A second opening is refused with the printer's own status.
    assert ctrl.AbreCupomFiscal() is False
    assert ctrl.UltimoErro == "Cupom aberto.\n"
    assert ctrl.last_outcome == "refused"  # reading UltimoErro left it
    assert ctrl.CupomFiscalAberto() == (True, True)
    assert ctrl.RegistraItemFiscal("1", r'CAFE "ESPECIAL" \ 1', "UN", 18, 2, 10.5, 0), ctrl.UltimoErro
    assert ctrl.RegistraItemFiscal("2", "ARROZ", "UN", 17, 1, 5, 0) is False
    assert ctrl.UltimoErro == "Alíquota de ICMS de 17.00% não cadastrada no ECF."
    assert ctrl.TotalizaCupomDesconto(1.0, 0), ctrl.UltimoErro
    assert ctrl.RegistraPagamento("Dinheiro", 25), ctrl.UltimoErro
    assert ctrl.FechaCupomFiscal("VOLTE SEMPRE", 0), ctrl.UltimoErro
    assert ctrl.CupomFiscalAberto() == (True, False)
    ok, x = ctrl.LeituraXSerial()
    assert ok is True and "CRZ: 0000" in x, ctrl.UltimoErro
    ok, when = ctrl.ReadDateTime()
    assert ok is True and isinstance(when, datetime.datetime)
    assert isinstance(ctrl.FiscalDate, datetime.datetime)
    assert (ctrl.SaleTotal, ctrl.DiscountTotal) == (pytest.approx(21.0), pytest.approx(1.0))


def test_whole_sale_on_an_in_process_virtual_printer():
    with tarvion.Control(virtual={5: 1}) as ctrl:
        sale(ctrl, 5)
        paper = ctrl.paper(5)
        # Quotes and backslashes reach the printer as written.
        assert r'001 1 CAFE "ESPECIAL" \ 1' in paper
        assert "VOLTE SEMPRE" in paper
        # A settable property reaches the driver and reads back.
        for value in (True, False):
            ctrl.CashDrawerAttached = value
            assert ctrl.CashDrawerAttached is value
        assert ctrl.CloseComm() is True
    # Closing the control took the printer off its port; nothing reached a printer.
    with tarvion.Control() as ctrl:
        assert ctrl.InitializeECF(1, 5, *INIT) is False
        assert ctrl.AbreCupomFiscal() is False
        assert ctrl.last_outcome == "not_written"


def test_raise_errors_on_a_virtual_printer(tmp_path):
    state, paper = tmp_path / "state.json", tmp_path / "paper.txt"
    with tarvion.Control(raise_errors=True, virtual={6: (1, state, paper)}) as ctrl:
        assert ctrl.InitializeECF(1, 6, *INIT) is True
        assert ctrl.AbreCupomFiscal() is True
        with pytest.raises(tarvion.PrinterError) as info:
            ctrl.AbreCupomFiscal()
        assert info.value.message == "Cupom aberto.\n" == ctrl.UltimoErro
        assert info.value.outcome == "refused"
        assert ctrl.CancelaCupomFiscal() is True
    assert state.exists()
    assert "CUPOM FISCAL CANCELADO" in paper.read_text(encoding="utf-8")


def test_virtual_printer_by_model_name_and_refusals():
    # The fiscal table's names, as a list; model 1 is the first.
    with tarvion.Control() as probe:
        ok, names = probe.ImpressorasDisponiveis()
    assert ok and isinstance(names, list) and names
    with tarvion.Control(virtual={9: "  " + names[0].lower() + " "}) as ctrl:
        assert ctrl.InitializeECF(1, 9, *INIT), ctrl.UltimoErro
    with pytest.raises(tarvion.TarvionError, match="no virtual printer"):
        tarvion.Control(virtual={9: "NO SUCH PRINTER"})
    with pytest.raises(tarvion.TarvionError) as info:
        tarvion.Control(virtual={9: 9999})
    assert "1 " in str(info.value)  # lists the models that have one
    with pytest.raises(tarvion.TarvionError, match="port"):
        tarvion.Control(virtual={0: 1})


def test_controls_on_separate_ports_run_in_threads():
    problems = []

    def run(port):
        try:
            with tarvion.Control(virtual={port: 1}) as ctrl:
                sale(ctrl, port)
        except BaseException as e:  # reported below, with the port
            problems.append((port, repr(e)))

    threads = [threading.Thread(target=run, args=(port,)) for port in (11, 12, 13)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    assert problems == []


def test_whole_sale_over_tarvion_emulate(tmp_path, monkeypatch):
    tool = os.environ.get("TARVION_TOOL")
    if not tool:
        pytest.skip("TARVION_TOOL does not name the tarvion program")
    paper = tmp_path / "paper.txt"
    emu = subprocess.Popen(
        [tool, "emulate", "1", "--state", str(tmp_path / "state.json"), "--paper", str(paper), "--baud", "115200"],
        stdout=subprocess.PIPE,
        text=True,
    )
    try:
        terminal = emu.stdout.readline().strip()
        assert terminal.startswith("/dev/"), terminal
        monkeypatch.setenv("TARVION_PORT_7", terminal)
        with tarvion.Control() as ctrl:
            sale(ctrl, 7)
            assert ctrl.CloseComm() is True
    finally:
        emu.terminate()
        emu.wait(30)
    assert "VOLTE SEMPRE" in paper.read_text(encoding="utf-8")
