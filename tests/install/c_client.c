/* A C host built only from the installed files: one control, one line, the
 * answer checked. Exits non-zero with the reason on any difference. */
#include <stdio.h>
#include <string.h>
#include <tarvion/tarvion.h>

int main(void) {
  tarvion_control* ctrl = tarvion_create();
  if (!ctrl) {
    fprintf(stderr, "tarvion_create returned NULL\n");
    return 1;
  }
  char out[256];
  size_t n = tarvion_call(ctrl, "ExisteECF \"DARUMA FS600\"", 1, out, sizeof out);
  int status = tarvion_last_status(ctrl);
  int count = tarvion_entry_count();
  const char* first = tarvion_entry_name(0);
  tarvion_destroy(ctrl);
  if (n >= sizeof out || strstr(out, "\"result\": 13") == NULL || status != 0) {
    fprintf(stderr, "ExisteECF answered \"%s\" (status %d)\n", out, status);
    return 1;
  }
  if (count <= 0 || first == NULL || tarvion_entry_name(count) != NULL) {
    fprintf(stderr, "entry table: %d entries, first %s\n", count, first ? first : "(null)");
    return 1;
  }
  printf("c client: %s\n", out);
  return 0;
}
