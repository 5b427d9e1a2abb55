// Compiled into every test program (test_common).
//
// gss-ntlmssp 1.2 never frees the digests it fetches from OpenSSL for each credential and
// context; LeakSanitizer builds would otherwise fail on that library's leak, not ours. The
// fast unwinder stops inside libcrypto (no frame pointers), so the rule names it too.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:gssntlmssp.so\nleak:libcrypto.so\n";
}
