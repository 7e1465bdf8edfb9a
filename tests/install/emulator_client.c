/* A C host built only from the installed files: a virtual printer of model 1
 * attached through libtarvion-emulator to a port of the libtarvion this
 * program loaded, then a short sale on it through tarvion_call. Exits non-zero
 * with the reason on any difference. */
#include <stdio.h>
#include <string.h>
#include <tarvion/emulator.h>
#include <tarvion/tarvion.h>

static int call(tarvion_control* ctrl, const char* line) {
  char out[1024];
  size_t n = tarvion_call(ctrl, line, 1, out, sizeof out);
  /* BOOL results are -1 or 1 when true. */
  if (n >= sizeof out || tarvion_last_status(ctrl) != 0 || strstr(out, "\"result\": 0,") != NULL) {
    char why[512];
    tarvion_call(ctrl, "UltimoErro", 0, why, sizeof why);
    fprintf(stderr, "%s answered %s (%s)\n", line, out, why);
    return 0;
  }
  return 1;
}

int main(void) {
  char error[512];
  if (tarvion_emulator_attach(5, 9999, NULL, NULL, error, sizeof error) == 0 || strstr(error, "9999") == NULL) {
    fprintf(stderr, "model 9999 was not refused with its number: %s\n", error);
    return 1;
  }
  if (tarvion_emulator_attach(5, tarvion_emulator_model("1"), NULL, NULL, error, sizeof error) != 0) {
    fprintf(stderr, "attach: %s\n", error);
    return 1;
  }
  tarvion_control* ctrl = tarvion_create();
  const char* sale[] = {"InitializeECF 1 5 115200 0 8 1 0 TRUE TRUE",
                        "AbreCupomFiscal",
                        "RegistraItemFiscal 1 CAFE UN 18.0 2.0 10.5 0.0",
                        "TotalizaCupomDesconto 0.0 0.0",
                        "RegistraPagamento Dinheiro 25.0",
                        "FechaCupomFiscal \"VOLTE SEMPRE\" 0.0",
                        "CloseComm"};
  for (size_t i = 0; i < sizeof sale / sizeof sale[0]; ++i)
    if (!call(ctrl, sale[i])) return 1;
  tarvion_destroy(ctrl);
  char paper[4096];
  size_t n = tarvion_emulator_paper(5, paper, sizeof paper);
  if (n == 0 || strstr(paper, "CAFE") == NULL || strstr(paper, "VOLTE SEMPRE") == NULL) {
    fprintf(stderr, "the printer's paper lacks the sale (%zu bytes):\n%s\n", n, paper);
    return 1;
  }
  if (tarvion_emulator_detach(5) != 0 || tarvion_emulator_detach(5) != -1) {
    fprintf(stderr, "detach: not exactly once\n");
    return 1;
  }
  printf("emulator client: a sale on a virtual printer, %zu bytes of paper\n", n);
  return 0;
}
