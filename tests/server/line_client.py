# The client side of server_netns: raw HTTP against quillmet-server, one check a function.
# Usage: python3 line_client.py HOST PORT CLI  (CLI: quillmet-cli, run while connections idle)
import socket
import subprocess
import sys
import time

host, port, cli = sys.argv[1], int(sys.argv[2]), sys.argv[3]


def connect():
    return socket.create_connection((host, port), timeout=30)


def reply(sock):
    data = b""
    try:
        while chunk := sock.recv(65536):
            data += chunk
    except ConnectionResetError:  # nginx may reset after a refusal; the reply came first
        pass
    return data


def request(text, body=b""):
    with connect() as sock:
        sock.sendall(text.encode() + body)
        return reply(sock)


def status(data):
    return int(data.split(b" ", 2)[1])


def check(what, ok, detail=""):
    if not ok:
        sys.exit(f"FAIL: {what} {detail}")
    print(f"ok: {what}")


def post_up(length, head=""):
    return f"POST /qm/up HTTP/1.1\r\nHost: t\r\nContent-Length: {length}\r\n{head}\r\n"


# 8 MiB answered with its exact count.
got = request(post_up(8 << 20), bytes(8 << 20))
check("8 MiB upload counted", status(got) == 200 and got.endswith(b'{"bytes":8388608}'), got[-80:])

# A body in ten slices 200 ms apart: nothing may come back before the last one.
with connect() as sock:
    sock.sendall(post_up(10 * 1000).encode())
    sock.setblocking(False)
    early = b""
    for _ in range(10):
        time.sleep(0.2)
        try:
            early += sock.recv(4096)
        except BlockingIOError:
            pass
        sock.sendall(bytes(1000))
    last = time.monotonic()
    sock.setblocking(True)
    got = early + reply(sock)
    answered = time.monotonic()
    check("no reply before the last slice", early == b"", early)
    check("slices counted", got.endswith(b'{"bytes":10000}'), got[-80:])
    print(f"   reply {1000 * (answered - last):.1f} ms after the last slice")

# Too large: refused from the header alone, while the client has sent no body byte.
with connect() as sock:
    sock.sendall(post_up(257 << 20).encode())
    got = reply(sock)
    check("257 MiB refused before the body", status(got) == 413, got[:40])

got = request(post_up(0).replace("Content-Length: 0\r\n", ""))
check("no Content-Length: 411", status(got) == 411, got[:40])
got = request("POST /qm/qm100K.jpg HTTP/1.0\r\nContent-Length: 3\r\n\r\n", b"abc")
check("POST to a sample: 405", status(got) == 405, got[:40])
got = request("GET /qm/ HTTP/1.0\r\n\r\n")
check("no listing of /qm/", status(got) in (403, 404) and b"qm100K" not in got, got[:40])
for path in ("/qm/../../../etc/passwd", "/qm/%2e%2e/%2e%2e/etc/passwd", "/../etc/passwd"):
    got = request(f"GET {path} HTTP/1.0\r\n\r\n")
    check(f"{path}: 400/404", status(got) in (400, 404) and b"root:" not in got, got[:40])
got = request("GET /qm/empty HTTP/1.0\r\n\r\n")
check("/qm/empty", status(got) == 200 and b"\r\ncache-control: no-store\r\n" in got.lower()
      and got.endswith(b"\r\n\r\n"), got)
got = request("GET /qm/qm100K.jpg HTTP/1.0\r\n\r\n")
check("no server version", b"\r\nServer: nginx\r\n" in got, got[:200])

# 200 half-open connections, a header begun and never ended, while a measurement runs.
idle = []
for _ in range(200):
    sock = connect()
    sock.sendall(b"GET /qm/qm100K.jpg HTTP/1.0\r\nX-Slow: ")
    idle.append(sock)
run = subprocess.run([cli, "--json", f"http://{host}:{port}/qm/qm1M.jpg"], capture_output=True,
                     text=True, timeout=120)
print("   " + run.stdout.strip())
check("a measurement beside 200 idle connections", run.returncode == 0, run.stderr)
for sock in idle:
    sock.close()
