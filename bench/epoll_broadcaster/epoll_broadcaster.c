/* The floor a fan-out can reach on one thread: a bare epoll broadcaster.
 *
 * It accepts publishers on one port and subscribers on another (both on
 * 127.0.0.1). Whatever a publisher sends is read as it comes and written to
 * every subscriber with one send() each, in the order the subscribers came.
 * A subscriber that does not take a whole piece keeps the rest in a buffer
 * of its own and is written to on EPOLLOUT; new pieces queue behind it, so
 * every byte arrives in order. What subscribers send is read and dropped. A
 * subscriber gets "ICY 200 OK\r\n\r\n" at its accept, the reply a rover of
 * the caster gets, so one client harness serves both.
 *
 *   epoll_broadcaster PUBLISHER_PORT SUBSCRIBER_PORT
 *
 * Prints "listening\n" once both ports are bound; runs until SIGTERM/SIGINT.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

static const char REPLY[] = "ICY 200 OK\r\n\r\n";

enum { KIND_DEAD = 0, KIND_PUBLISHER_LISTEN, KIND_SUBSCRIBER_LISTEN, KIND_PUBLISHER, KIND_SUBSCRIBER };

struct peer {
    int fd;
    int kind;
    int index;       /* place in the subscriber list */
    char* pending;   /* bytes the kernel did not take yet */
    size_t pendingLength, pendingCapacity;
    struct peer* nextDead;
};

static volatile sig_atomic_t g_stop = 0;
static int g_epoll = -1;
static struct peer** g_subscribers = NULL;
static int g_subscriberCount = 0, g_subscriberCapacity = 0;
/* Dropped peers are freed after the batch of events they may still be in. */
static struct peer* g_dead = NULL;

static void OnSignal(int sig) { (void)sig; g_stop = 1; }

static int Listen(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    struct sockaddr_in addr;
    if (fd < 0) return -1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((uint16_t)port);
    if (bind(fd, (struct sockaddr*)&addr, sizeof(addr)) != 0 || listen(fd, 4096) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

static struct peer* NewPeer(int fd, int kind)
{
    struct peer* p = calloc(1, sizeof(*p));
    struct epoll_event ev;
    if (!p) abort();
    p->fd = fd;
    p->kind = kind;
    p->index = -1;
    memset(&ev, 0, sizeof(ev));
    ev.events = EPOLLIN;
    ev.data.ptr = p;
    epoll_ctl(g_epoll, EPOLL_CTL_ADD, fd, &ev);
    return p;
}

static void DropPeer(struct peer* p)
{
    epoll_ctl(g_epoll, EPOLL_CTL_DEL, p->fd, NULL);
    close(p->fd);
    if (p->index >= 0) {
        /* Keep the list in arrival order. */
        memmove(&g_subscribers[p->index], &g_subscribers[p->index + 1],
                (size_t)(g_subscriberCount - p->index - 1) * sizeof(g_subscribers[0]));
        --g_subscriberCount;
        for (int i = p->index; i < g_subscriberCount; ++i) g_subscribers[i]->index = i;
    }
    p->kind = KIND_DEAD;
    p->nextDead = g_dead;
    g_dead = p;
}

static void FreeDead(void)
{
    while (g_dead) {
        struct peer* next = g_dead->nextDead;
        free(g_dead->pending);
        free(g_dead);
        g_dead = next;
    }
}

static void WantWrite(struct peer* p, int on)
{
    struct epoll_event ev;
    memset(&ev, 0, sizeof(ev));
    ev.events = EPOLLIN | (on ? EPOLLOUT : 0);
    ev.data.ptr = p;
    epoll_ctl(g_epoll, EPOLL_CTL_MOD, p->fd, &ev);
}

static void Keep(struct peer* p, const char* bytes, size_t n)
{
    if (p->pendingLength + n > p->pendingCapacity) {
        size_t capacity = p->pendingCapacity ? p->pendingCapacity : 4096;
        while (capacity < p->pendingLength + n) capacity *= 2;
        p->pending = realloc(p->pending, capacity);
        if (!p->pending) abort();
        p->pendingCapacity = capacity;
    }
    memcpy(p->pending + p->pendingLength, bytes, n);
    p->pendingLength += n;
}

/* One send() of a piece; what the kernel leaves is kept. 0, or -1 when the peer is gone. */
static int SendTo(struct peer* p, const char* bytes, size_t n)
{
    ssize_t sent = 0;
    if (p->pendingLength > 0) {
        Keep(p, bytes, n);
        return 0;
    }
    sent = send(p->fd, bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        sent = 0;
    }
    if ((size_t)sent < n) {
        Keep(p, bytes + sent, n - (size_t)sent);
        WantWrite(p, 1);
    }
    return 0;
}

static void Flush(struct peer* p)
{
    ssize_t sent = send(p->fd, p->pending, p->pendingLength, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
        DropPeer(p);
        return;
    }
    memmove(p->pending, p->pending + sent, p->pendingLength - (size_t)sent);
    p->pendingLength -= (size_t)sent;
    if (p->pendingLength == 0) WantWrite(p, 0);
}

static void AddSubscriber(struct peer* p)
{
    if (g_subscriberCount == g_subscriberCapacity) {
        g_subscriberCapacity = g_subscriberCapacity ? 2 * g_subscriberCapacity : 1024;
        g_subscribers = realloc(g_subscribers, (size_t)g_subscriberCapacity * sizeof(g_subscribers[0]));
        if (!g_subscribers) abort();
    }
    p->index = g_subscriberCount;
    g_subscribers[g_subscriberCount++] = p;
    SendTo(p, REPLY, sizeof(REPLY) - 1);
}

static void Accept(int listenFd, int kind)
{
    for (;;) {
        int fd = accept4(listenFd, NULL, NULL, SOCK_NONBLOCK | SOCK_CLOEXEC);
        int one = 1;
        if (fd < 0) return;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        struct peer* p = NewPeer(fd, kind);
        if (kind == KIND_SUBSCRIBER) AddSubscriber(p);
    }
}

static void Publish(struct peer* publisher, char* buffer, size_t size)
{
    ssize_t got = recv(publisher->fd, buffer, size, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        DropPeer(publisher);
        return;
    }
    if (got < 0) return;
    for (int i = 0; i < g_subscriberCount; ++i) {
        struct peer* s = g_subscribers[i];
        if (SendTo(s, buffer, (size_t)got) != 0) {
            DropPeer(s);
            --i; /* the list moved up by one */
        }
    }
}

static void Discard(struct peer* p, char* buffer, size_t size)
{
    ssize_t got = recv(p->fd, buffer, size, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) DropPeer(p);
}

int main(int argc, char** argv)
{
    struct rlimit rl;
    struct peer publisherListen = {0}, subscriberListen = {0};
    struct epoll_event events[256];
    static char buffer[65536];
    if (argc != 3) {
        fprintf(stderr, "usage: epoll_broadcaster PUBLISHER_PORT SUBSCRIBER_PORT\n");
        return 1;
    }
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    g_epoll = epoll_create1(EPOLL_CLOEXEC);
    publisherListen.fd = Listen(atoi(argv[1]));
    subscriberListen.fd = Listen(atoi(argv[2]));
    if (g_epoll < 0 || publisherListen.fd < 0 || subscriberListen.fd < 0) {
        fprintf(stderr, "epoll_broadcaster: cannot listen: %s\n", strerror(errno));
        return 1;
    }
    publisherListen.kind = KIND_PUBLISHER_LISTEN;
    subscriberListen.kind = KIND_SUBSCRIBER_LISTEN;
    struct epoll_event ev;
    memset(&ev, 0, sizeof(ev));
    ev.events = EPOLLIN;
    ev.data.ptr = &publisherListen;
    epoll_ctl(g_epoll, EPOLL_CTL_ADD, publisherListen.fd, &ev);
    ev.data.ptr = &subscriberListen;
    epoll_ctl(g_epoll, EPOLL_CTL_ADD, subscriberListen.fd, &ev);
    printf("listening\n");
    fflush(stdout);

    while (!g_stop) {
        int n = epoll_wait(g_epoll, events, 256, 200);
        for (int i = 0; i < n; ++i) {
            struct peer* p = events[i].data.ptr;
            switch (p->kind) {
            case KIND_PUBLISHER_LISTEN: Accept(p->fd, KIND_PUBLISHER); break;
            case KIND_SUBSCRIBER_LISTEN: Accept(p->fd, KIND_SUBSCRIBER); break;
            case KIND_PUBLISHER: Publish(p, buffer, sizeof(buffer)); break;
            case KIND_DEAD: break;
            default:
                if (events[i].events & EPOLLOUT) {
                    Flush(p);
                } else {
                    Discard(p, buffer, sizeof(buffer));
                }
            }
        }
        FreeDead();
    }
    return 0;
}
