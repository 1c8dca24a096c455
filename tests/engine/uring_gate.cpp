// io_uring as the kernel offers it, or refused the way a container's or a service's
// system-call filter refuses it:
//   uring_gate probe              exit 0 where io_uring_setup works here, 1 where refused
//   uring_gate refuse PROGRAM...  runs PROGRAM with io_uring_setup failing ENOSYS (a
//                                 seccomp filter on this process, kept across exec)
// Plain C++, no library: the filter is a few BPF instructions.
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/io_uring.h>
#include <linux/seccomp.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
#if defined(__x86_64__)
constexpr unsigned kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kArch = AUDIT_ARCH_AARCH64;
#else
#error "uring_gate: add this machine's AUDIT_ARCH"
#endif

int probe() {
    io_uring_params params{};
    const long fd = ::syscall(__NR_io_uring_setup, 4, &params);
    if (fd < 0) {
        std::printf("io_uring refused here: %s\n", std::strerror(errno));
        return 1;
    }
    ::close(int(fd));
    std::printf("io_uring allowed here\n");
    return 0;
}

// Every system call allowed but io_uring_setup, which fails ENOSYS as on a kernel
// without io_uring. Another architecture's calls (a foreign ABI) are refused outright.
bool refuseUring() {
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    // Without root a filter needs no_new_privs; it is what a service's filter has too.
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}
} // namespace

int main(int argc, char* argv[]) {
    if (argc == 2 && std::strcmp(argv[1], "probe") == 0)
        return probe();
    if (argc >= 3 && std::strcmp(argv[1], "refuse") == 0) {
        if (!refuseUring()) {
            std::perror("uring_gate: seccomp filter");
            return 2;
        }
        ::execvp(argv[2], argv + 2);
        std::perror("uring_gate: exec");
        return 2;
    }
    std::fprintf(stderr, "usage: uring_gate probe | uring_gate refuse PROGRAM [ARGS...]\n");
    return 2;
}
