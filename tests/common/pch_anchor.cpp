// The object the precompiled test header is built with; it has no code of its own.
