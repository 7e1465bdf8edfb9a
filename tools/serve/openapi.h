// The OpenAPI 3.1 description of `tarvion serve`, served at /openapi.json so a
// point-of-sale program in any language can generate its client. The call
// schemas are built from the entry table, so a new entry shows up by itself.
#pragma once

#include <cstddef>
#include <string>

namespace tarvion::serve {

// The name of the schema of one entry's call, under components/schemas.
std::string callSchemaName(const char* entryName);

// The whole document as JSON text. tokenRequired: every request carries a
// bearer token; maxCalls: the longest list of calls a request may hold.
std::string openApiDocument(bool tokenRequired, size_t maxCalls = 500);

}  // namespace tarvion::serve
