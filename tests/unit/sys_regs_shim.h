#pragma once
// glibc's <sys/ucontext.h> (pulled in by GoogleTest through <signal.h>)
// declares REG_RAX .. REG_RDI at global scope under _GNU_SOURCE, which clash
// with TRegister. Its machine-context names are kept out of the way in a
// namespace of their own; include this before GoogleTest.
#include <bits/types.h>
#include <bits/types/sigset_t.h>
#include <bits/types/stack_t.h>
namespace tavik_sysctx {
#include <sys/ucontext.h>
}
