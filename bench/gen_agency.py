#!/usr/bin/env python3
"""Writes a realistic agency for the import benchmark: master records (raw 150-byte lines for
`quillmere-recfile load ap`) and an N-row balance sheet CSV.

  gen_agency.py --rows N --agency 01 --ap ap.txt --csv balances.csv [--seed S]

Rows: 90% control-account rows spread evenly over 1120 (each client once), 1130 and 2110
(companies), 2120 (producers); the rest ordinary GL accounts over departments. Companies and
producers have 3-character codes, so a big file names each of them on several rows, as an
agency with many clients and few carriers does."""
import argparse
import random

AP_LEN = 150
CLIENT, PRODUCER, COMPANY, DEPARTMENT, GL = "001000", "002000", "003000", "005000", "008000"
DIGITS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"


def code36(n):
    return DIGITS[n // 1296 % 36] + DIGITS[n // 36 % 36] + DIGITS[n % 36]


def master(kind, agency, code, name, ap_type=" ", sub_accounts="000"):
    rec = bytearray(b" " * AP_LEN)
    key = (kind + agency + code.rjust(6) + "00").encode("latin-1")
    rec[0:16] = key
    rec[25:50] = name[:25].ljust(25).encode("latin-1")
    rec[50:51] = ap_type.encode("latin-1")
    rec[53:56] = sub_accounts.encode("latin-1")
    return bytes(rec)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--rows", type=int, default=50000)
    p.add_argument("--agency", default="01")
    p.add_argument("--ap", required=True)
    p.add_argument("--csv", required=True)
    p.add_argument("--seed", type=int, default=1)
    a = p.parse_args()
    rnd = random.Random(a.seed)
    agy = a.agency.rjust(2)

    n_control = a.rows * 9 // 10
    n_ordinary = a.rows - n_control
    n_companies = max(1, min(36 ** 3 - 1, n_control // 4 // 5))  # about 5 rows each
    n_producers = max(1, min(36 ** 3 - 1, n_control // 4 // 10))
    departments = ["GA", "01", "02", "03", "PL", "CL"]
    gls = [str(g) for g in range(1000, 1100, 10)] + [str(g) for g in range(4000, 4400, 10)] + \
          [str(g) for g in range(5000, 5600, 10)]

    records = []
    for gl in gls + ["1120", "1130", "2110", "2120"]:
        records.append(master(GL, agy, gl, "GL account " + gl, "A", "000"))
    for d in departments:
        records.append(master(DEPARTMENT, agy, d, "Department " + d))
    n_clients = (n_control + 3) // 4
    for c in range(n_clients):
        records.append(master(CLIENT, agy, "C%05d" % c if c < 100000 else "%06d" % c,
                              "Client %d" % c))
    for c in range(n_companies):
        records.append(master(COMPANY, agy, code36(c), "Company %d" % c, "C"))
    for c in range(n_producers):
        records.append(master(PRODUCER, agy, code36(c), "Producer %d" % c))
    records.sort()
    with open(a.ap, "wb") as f:
        for r in records:
            f.write(r + b"\n")

    with open(a.csv, "w", newline="", encoding="latin-1") as f:
        f.write('"GL","Name","SubType","Normal","Dept","Value"\r\n')
        control = 0
        ordinary = 0
        for i in range(a.rows):
            dept = departments[rnd.randrange(len(departments))]
            cents = rnd.randrange(1, 5000000)
            sign = "-" if rnd.random() < 0.3 else ""
            amount = "%s%d.%02d" % (sign, cents // 100, cents % 100)
            if (i % 10 == 9 and ordinary < n_ordinary) or control >= n_control:
                gl = gls[ordinary % len(gls)]
                ordinary += 1
                f.write('"%s","GL account %s","None","Debit","%s","%s"\r\n' % (gl, gl, dept, amount))
                continue
            kind = control % 4
            if kind == 0:
                c = control // 4
                gl, sgl = "1120", ("C%05d" % c if c < 100000 else "%06d" % c)
            elif kind == 1:
                gl, sgl = "1130", code36(control // 4 % n_companies)
            elif kind == 2:
                gl, sgl = "2110", code36(control // 4 % n_companies)
            else:
                gl, sgl = "2120", code36(control // 4 % n_producers)
            control += 1
            f.write('%s,"Balance %d",%s,Debit,%s,"$%s"\r\n' % (gl, i, sgl, dept, amount))


if __name__ == "__main__":
    main()
