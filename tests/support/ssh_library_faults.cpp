// Faults of the SSH library under libcurl (libssh2 1.10, Debian 12), not of this program,
// told to the sanitizers of the test programs that log in over SSH: it loses a few bytes of
// each key file it reads. Seeing the library's frames under OpenSSL's allocator takes the
// slow unwinder, so only these programs pay for it.
extern "C" const char* __lsan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:libssh2_userauth_publickey_fromfile_ex\n"; }
