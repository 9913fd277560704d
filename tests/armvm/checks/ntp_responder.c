// Guest helper for clock_wait.sh: a stratum-1 NTP server on the guest's own
// loopback (127.0.0.1:123) that answers every client with a fixed true time:
// the wall clock at its start plus OFFSET seconds, advanced on
// CLOCK_MONOTONIC, so that it stays true when a client steps the clock.
// Usage: ntp_responder OFFSET_SECONDS   (runs until killed; prints "answering"
// once bound)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

// Seconds from 1900 (NTP's era) to 1970.
#define NTP_UNIX_EPOCH 2208988800u
#define NTP_PACKET_SIZE 48

static struct timespec true_at_start;
static struct timespec monotonic_at_start;

static void put_u32(unsigned char* at, uint32_t value) {
  at[0] = (unsigned char)(value >> 24);
  at[1] = (unsigned char)(value >> 16);
  at[2] = (unsigned char)(value >> 8);
  at[3] = (unsigned char)value;
}

static void put_true_time(unsigned char* at) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t ns = ((int64_t)now.tv_sec - monotonic_at_start.tv_sec) * 1000000000 +
               (now.tv_nsec - monotonic_at_start.tv_nsec) + true_at_start.tv_nsec;
  int64_t seconds = (int64_t)true_at_start.tv_sec + ns / 1000000000;
  ns %= 1000000000;
  put_u32(at, (uint32_t)(seconds + NTP_UNIX_EPOCH));
  put_u32(at + 4, (uint32_t)(((uint64_t)ns << 32) / 1000000000u));
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  clock_gettime(CLOCK_REALTIME, &true_at_start);
  clock_gettime(CLOCK_MONOTONIC, &monotonic_at_start);
  true_at_start.tv_sec += atol(argv[1]);

  int server = socket(AF_INET, SOCK_DGRAM, 0);
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(123);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (server < 0 || bind(server, (struct sockaddr*)&address, sizeof address) != 0) {
    perror("ntp_responder: bind 127.0.0.1:123");
    return 1;
  }
  // Ready once this line is out: the caller waits for it before a client asks.
  printf("answering\n");
  fflush(stdout);
  for (;;) {
    unsigned char packet[128];
    struct sockaddr_in client;
    socklen_t client_size = sizeof client;
    ssize_t got =
        recvfrom(server, packet, sizeof packet, 0, (struct sockaddr*)&client, &client_size);
    if (got < NTP_PACKET_SIZE) continue;
    unsigned char reply[NTP_PACKET_SIZE];
    memset(reply, 0, sizeof reply);
    reply[0] = (unsigned char)((packet[0] & 0x38) | 4);  // no leap warning, its version, server
    reply[1] = 1;                                        // stratum 1
    reply[2] = packet[2];                                // its poll
    reply[3] = (unsigned char)-20;                       // precision: about a microsecond
    put_u32(reply + 8, 1 << 8);                          // root dispersion: 1/256 s
    memcpy(reply + 12, "GPS", 4);
    put_true_time(reply + 16);           // reference time
    memcpy(reply + 24, packet + 40, 8);  // originate: the client's transmit time
    put_true_time(reply + 32);           // receive
    put_true_time(reply + 40);           // transmit
    sendto(server, reply, sizeof reply, 0, (struct sockaddr*)&client, client_size);
  }
}
