/* The plainest fan-out there is: a bare blocking broadcaster.
 *
 * One port on 127.0.0.1, one thread accepting. Each connection's request is
 * read up to its blank line: "SOURCE ..." makes it the base, "GET ..." a
 * rover; both get "ICY 200 OK\r\n\r\n", the reply the caster gives, so one
 * client harness serves both. Anything else is closed. The base's thread
 * reads up to 64 KiB at a time and writes each read to every rover with one
 * blocking write(), in the order the rovers came; a rover whose write fails
 * is dropped. Rovers have Nagle off. One base streams at a time; what rovers
 * send is never read.
 *
 *   blocking_broadcaster PORT
 *
 * Prints "listening\n" once the port is bound; runs until SIGTERM/SIGINT.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

static const char REPLY[] = "ICY 200 OK\r\n\r\n";

static volatile sig_atomic_t g_stop = 0;

/* Rovers accepted since the base last looked, under g_lock; the base's
 * thread moves them to its own list, so no lock is held while it writes. */
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static int* g_arrived = NULL;
static int g_arrivedCount = 0, g_arrivedCapacity = 0;
static int g_baseOnline = 0;

/* Owned by whichever base thread runs (one at a time). */
static int* g_rovers = NULL;
static int g_roverCount = 0, g_roverCapacity = 0;

static void OnSignal(int sig) { (void)sig; g_stop = 1; }

static void Append(int** list, int* count, int* capacity, int fd)
{
    if (*count == *capacity) {
        *capacity = *capacity ? 2 * *capacity : 1024;
        *list = realloc(*list, (size_t)*capacity * sizeof(**list));
        if (!*list) abort();
    }
    (*list)[(*count)++] = fd;
}

static int WriteAll(int fd, const char* bytes, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, bytes, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return -1;
        bytes += w;
        n -= (size_t)w;
    }
    return 0;
}

static void TakeArrived(void)
{
    pthread_mutex_lock(&g_lock);
    for (int i = 0; i < g_arrivedCount; ++i) Append(&g_rovers, &g_roverCount, &g_roverCapacity, g_arrived[i]);
    g_arrivedCount = 0;
    pthread_mutex_unlock(&g_lock);
}

static void* Broadcast(void* arg)
{
    int base = (int)(intptr_t)arg;
    static char buffer[65536];
    for (;;) {
        ssize_t got = read(base, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        TakeArrived();
        int kept = 0;
        for (int i = 0; i < g_roverCount; ++i) {
            int fd = g_rovers[i];
            if (WriteAll(fd, buffer, (size_t)got) != 0) {
                close(fd);
                continue;
            }
            g_rovers[kept++] = fd;
        }
        g_roverCount = kept;
    }
    close(base);
    pthread_mutex_lock(&g_lock);
    g_baseOnline = 0;
    pthread_mutex_unlock(&g_lock);
    return NULL;
}

/* Reads the request up to its blank line (bounded in size and time). */
static int ReadRequest(int fd, char* request, size_t size)
{
    size_t length = 0;
    while (length + 1 < size) {
        ssize_t got = read(fd, request + length, size - 1 - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return -1;
        length += (size_t)got;
        request[length] = '\0';
        if (strstr(request, "\r\n\r\n")) return 0;
    }
    return -1;
}

static void Serve(int fd)
{
    char request[4096];
    struct timeval timeout = {5, 0};
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (ReadRequest(fd, request, sizeof(request)) != 0) {
        close(fd);
        return;
    }
    if (strncmp(request, "GET ", 4) == 0) {
        if (WriteAll(fd, REPLY, sizeof(REPLY) - 1) != 0) {
            close(fd);
            return;
        }
        pthread_mutex_lock(&g_lock);
        Append(&g_arrived, &g_arrivedCount, &g_arrivedCapacity, fd);
        pthread_mutex_unlock(&g_lock);
        return;
    }
    if (strncmp(request, "SOURCE ", 7) == 0) {
        pthread_t thread;
        pthread_mutex_lock(&g_lock);
        int taken = g_baseOnline;
        g_baseOnline = 1;
        pthread_mutex_unlock(&g_lock);
        if (!taken && WriteAll(fd, REPLY, sizeof(REPLY) - 1) == 0 &&
            pthread_create(&thread, NULL, Broadcast, (void*)(intptr_t)fd) == 0) {
            pthread_detach(thread);
            return;
        }
        if (!taken) {
            pthread_mutex_lock(&g_lock);
            g_baseOnline = 0;
            pthread_mutex_unlock(&g_lock);
        }
    }
    close(fd);
}

int main(int argc, char** argv)
{
    struct rlimit rl;
    struct sigaction action;
    struct sockaddr_in addr;
    int one = 1;
    if (argc != 2) {
        fprintf(stderr, "usage: blocking_broadcaster PORT\n");
        return 1;
    }
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
    signal(SIGPIPE, SIG_IGN);
    /* No SA_RESTART: the signal has to end the blocking accept(). */
    memset(&action, 0, sizeof(action));
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, NULL);
    sigaction(SIGINT, &action, NULL);

    int listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((uint16_t)atoi(argv[1]));
    if (listenFd < 0 || setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0 ||
        bind(listenFd, (struct sockaddr*)&addr, sizeof(addr)) != 0 || listen(listenFd, 4096) != 0) {
        fprintf(stderr, "blocking_broadcaster: cannot listen: %s\n", strerror(errno));
        return 1;
    }
    printf("listening\n");
    fflush(stdout);

    while (!g_stop) {
        int fd = accept4(listenFd, NULL, NULL, SOCK_CLOEXEC);
        if (fd >= 0) {
            Serve(fd);
        } else if (errno == EMFILE || errno == ENFILE) {
            /* Rovers that left are closed at the base's next write to them. */
            usleep(1000);
        }
    }
    /* The base's thread may sit in a write; the process ends under it. */
    _exit(0);
}
