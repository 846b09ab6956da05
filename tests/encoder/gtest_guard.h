#pragma once
// glibc's <sys/ucontext.h> (reached through GoogleTest with _GNU_SOURCE)
// declares REG_RAX .. REG_RDI too; its names are moved aside here so that the
// register names of encoder/operand.h stay ours.
#define REG_RAX ucontext_REG_RAX
#define REG_RCX ucontext_REG_RCX
#define REG_RDX ucontext_REG_RDX
#define REG_RBX ucontext_REG_RBX
#define REG_RSP ucontext_REG_RSP
#define REG_RBP ucontext_REG_RBP
#define REG_RSI ucontext_REG_RSI
#define REG_RDI ucontext_REG_RDI
#include <gtest/gtest.h>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#undef REG_RAX
#undef REG_RCX
#undef REG_RDX
#undef REG_RBX
#undef REG_RSP
#undef REG_RBP
#undef REG_RSI
#undef REG_RDI
