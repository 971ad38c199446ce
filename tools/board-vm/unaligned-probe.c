/* Reads a register of the FPGA window through /dev/mem twice: one 32-bit
 * load at an aligned address, then one at an address one byte further.
 * The window is device memory, where the board's processor answers a
 * misaligned access with an alignment fault (SIGBUS, BUS_ADRALN); the
 * virtual machine shows here whether its processor model does the same.
 *
 *   unaligned-probe PHYS_ADDRESS
 *
 * Prints "aligned 0x<value>", then "unaligned fault code <si_code>" (exit
 * status 0) or "unaligned read 0x<value> without a fault" (exit status 3).
 * Exit status 1 when /dev/mem cannot be opened or mapped. Reads only. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

static sigjmp_buf g_back;
static volatile sig_atomic_t g_code;

static void on_bus(int sig, siginfo_t* info, void* context) {
    (void)sig;
    (void)context;
    g_code = info->si_code;
    siglongjmp(g_back, 1);
}

/* Exactly one 32-bit load instruction, whatever the address. */
static uint32_t load32(const volatile void* address) {
    uint32_t value;
    __asm__ volatile("ldr %w0, [%1]" : "=r"(value) : "r"(address) : "memory");
    return value;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: unaligned-probe PHYS_ADDRESS\n");
        return 2;
    }
    unsigned long const phys = strtoul(argv[1], NULL, 0);
    long const page = sysconf(_SC_PAGESIZE);
    int const fd = open("/dev/mem", O_RDONLY | O_SYNC);
    if (fd < 0) {
        perror("unaligned-probe: /dev/mem");
        return 1;
    }
    off_t const base = (off_t)(phys - phys % (unsigned long)page);
    unsigned char* map = mmap(NULL, (size_t)page, PROT_READ, MAP_SHARED, fd, base);
    if (map == MAP_FAILED) {
        perror("unaligned-probe: mmap");
        return 1;
    }
    volatile unsigned char* reg = map + (phys - (unsigned long)base);
    printf("aligned 0x%08x\n", load32(reg));
    fflush(stdout);

    struct sigaction action = {0};
    action.sa_sigaction = on_bus;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, NULL);
    if (sigsetjmp(g_back, 1) == 0) {
        uint32_t const value = load32(reg + 1);
        printf("unaligned read 0x%08x without a fault\n", value);
        return 3;
    }
    printf("unaligned fault code %d%s\n", (int)g_code, g_code == BUS_ADRALN ? " (BUS_ADRALN)" : "");
    return 0;
}
