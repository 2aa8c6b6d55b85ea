// The URIs this service answers beyond the four queries.
#ifndef EXTENSIONS_EXTENSION_ROUTES_H_
#define EXTENSIONS_EXTENSION_ROUTES_H_

// Appends every extension URI to the dispatch table, after the four queries.
// Call once, before the server runs.
void register_extensions();

#endif  // EXTENSIONS_EXTENSION_ROUTES_H_
