// A C++ host built only from the installed files: the typed member, and the
// lookups by name and by dispatch identifier with Invoke, must all reach the
// library.
#include <cstdio>
#include <tarvion/tarvion.hpp>
#include <vector>

int main() {
  tarvion::CTarvionCtrl ctrl;
  const int32_t typed = ctrl.ExisteECF("DARUMA FS600");
  const tarvion::EntryInfo* entry = tarvion::findEntry("existeecf");
  if (!entry) {
    std::fprintf(stderr, "findEntry(\"existeecf\") found nothing\n");
    return 1;
  }
  std::vector<tarvion::Value> args{tarvion::Value::string("DARUMA FS600")};
  const tarvion::Value byName = ctrl.Invoke(*entry, args);
  if (typed != 13 || byName.i != 13 || tarvion::findEntry(entry->dispid) != entry) {
    std::fprintf(stderr, "ExisteECF: typed %d, by name %d; dispatch identifier %d finds %s\n", static_cast<int>(typed),
                 static_cast<int>(byName.i), entry->dispid,
                 tarvion::findEntry(entry->dispid) == entry ? "it" : "another entry");
    return 1;
  }
  std::printf("c++ client: ExisteECF -> %d\n", static_cast<int>(typed));
  return 0;
}
