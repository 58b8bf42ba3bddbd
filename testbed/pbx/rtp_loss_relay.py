#!/usr/bin/env python3
# A loss stage between the phone and the far end's RTP echo: listens on 127.0.0.1:<listen>, sends
# what the phone sends on to 127.0.0.1:<target> (sipp -rtp_echo) and what comes back to the phone,
# dropping <percent> % of the packets on the way back, evenly spread (exactly that share of every
# hundred). Prints "ready" once bound; ends on SIGTERM.
import socket
import sys


def main():
    listen, target, percent = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", listen))
    print("ready", flush=True)
    far = ("127.0.0.1", target)
    phone = None
    back = 0
    while True:
        data, source = sock.recvfrom(65536)
        if source == far:
            back += 1
            # Packet n is dropped when it crosses the next multiple of the share.
            if (back * percent) // 100 != ((back - 1) * percent) // 100:
                continue
            if phone:
                sock.sendto(data, phone)
        else:
            phone = source
            sock.sendto(data, far)


if __name__ == "__main__":
    main()
