#!/usr/bin/env python3
"""Writes the demo agency's master file and a filled-in balance sheet CSV.

    tools/demo/make_demo_agency.py OUTDIR [--agency 01]

OUTDIR/ap.txt        master records of the agency, one 150-byte record a line (LF), for
                     `quillmere-recfile load ap OUTDIR/ap.txt`: a chart of GL accounts, five
                     departments, clients, insurance companies, a few vendors and producers
OUTDIR/balances.csv  the agency's beginning balances as an operator would save them from a
                     spreadsheet: the GL chart's balance-sheet accounts (zero rows included),
                     one row per open client, company and producer balance on the control
                     accounts 1120, 1130, 2110 and 2120; debits positive, credits negative,
                     the amounts add up to 0.00

The output is the same on every run (a fixed seed), so the demo's numbers can be compared.
"""

import argparse
import os
import random

RECORD_LENGTH = 150

# GL chart: number, name (at most 25 characters), class letter (A asset, L liability,
# C capital, I income, E expense), sub-ledger kind ("000" none .. "009" bank).
GL_CHART = [
    ("1000", "Petty Cash", "A", "000"),
    ("1010", "Operating Account", "A", "009"),
    ("1020", "Premium Trust Account", "A", "009"),
    ("1030", "Payroll Account", "A", "009"),
    ("1040", "Money Market Account", "A", "009"),
    ("1050", "Savings Account", "A", "009"),
    ("1060", "Certificates of Deposit", "A", "000"),
    ("1100", "Other Receivables", "A", "000"),
    ("1110", "Employee Advances", "A", "000"),
    ("1120", "Client Receivables", "A", "001"),
    ("1130", "Company Receivables", "A", "003"),
    ("1140", "Producer Advances", "A", "002"),
    ("1150", "Notes Receivable", "A", "000"),
    ("1160", "Contingent Comm Receivable", "A", "003"),
    ("1170", "Allowance for Bad Debts", "A", "000"),
    ("1180", "Finance Co Receivable", "A", "003"),
    ("1200", "Prepaid Insurance", "A", "000"),
    ("1210", "Prepaid Rent", "A", "000"),
    ("1220", "Prepaid E&O Premium", "A", "000"),
    ("1230", "Prepaid Software", "A", "000"),
    ("1240", "Security Deposits", "A", "000"),
    ("1300", "Office Furniture", "A", "000"),
    ("1310", "Office Equipment", "A", "000"),
    ("1320", "Computer Equipment", "A", "000"),
    ("1330", "Software", "A", "000"),
    ("1340", "Vehicles", "A", "000"),
    ("1350", "Leasehold Improvements", "A", "000"),
    ("1390", "Accumulated Depreciation", "A", "000"),
    ("1400", "Purchased Book of Business", "A", "000"),
    ("1410", "Accumulated Amortization", "A", "000"),
    ("1500", "Investments", "A", "000"),
    ("1510", "Cash Value Life Insurance", "A", "000"),
    ("2000", "Accounts Payable", "L", "003"),
    ("2010", "Accrued Expenses", "L", "000"),
    ("2020", "Accrued Payroll", "L", "000"),
    ("2030", "Federal Withholding", "L", "000"),
    ("2040", "State Withholding", "L", "000"),
    ("2050", "FICA Payable", "L", "000"),
    ("2060", "FUTA Payable", "L", "000"),
    ("2070", "SUTA Payable", "L", "000"),
    ("2080", "401k Withholding", "L", "000"),
    ("2090", "Health Insurance W/H", "L", "000"),
    ("2100", "Premium Taxes Payable", "L", "000"),
    ("2110", "Company Payables", "L", "003"),
    ("2120", "Producer Payables", "L", "002"),
    ("2130", "Return Premium Payable", "L", "001"),
    ("2140", "Unearned Commission", "L", "000"),
    ("2150", "Client Deposits", "L", "001"),
    ("2160", "Unapplied Cash", "L", "001"),
    ("2170", "Premium Finance Payable", "L", "003"),
    ("2200", "Line of Credit", "L", "000"),
    ("2210", "Note Payable - Bank", "L", "000"),
    ("2220", "Vehicle Loans", "L", "000"),
    ("2230", "Equipment Lease Payable", "L", "000"),
    ("2300", "Long-Term Debt", "L", "000"),
    ("2310", "Shareholder Loans", "L", "000"),
    ("2320", "Deferred Rent", "L", "000"),
    ("3000", "Common Stock", "C", "000"),
    ("3010", "Paid-In Capital", "C", "000"),
    ("3100", "Retained Earnings", "C", "000"),
    ("3200", "Distributions", "C", "000"),
    ("3300", "Treasury Stock", "C", "000"),
    ("4000", "New Business Commission", "I", "003"),
    ("4010", "Renewal Commission", "I", "003"),
    ("4020", "Personal Lines Commission", "I", "003"),
    ("4030", "Commercial Lines Comm", "I", "003"),
    ("4040", "Life Commission", "I", "003"),
    ("4050", "Health Commission", "I", "003"),
    ("4060", "Bond Commission", "I", "003"),
    ("4070", "Crop Commission", "I", "003"),
    ("4100", "Contingent Commission", "I", "003"),
    ("4110", "Override Commission", "I", "003"),
    ("4200", "Agency Fees", "I", "001"),
    ("4210", "Policy Fees", "I", "001"),
    ("4220", "Inspection Fees", "I", "000"),
    ("4300", "Interest Income", "I", "000"),
    ("4310", "Finance Charges", "I", "001"),
    ("4400", "Consulting Income", "I", "000"),
    ("4500", "Other Income", "I", "000"),
    ("5000", "Producer Commissions", "E", "002"),
    ("5010", "Sub-Producer Commissions", "E", "002"),
    ("5020", "Referral Fees", "E", "000"),
    ("6000", "Salaries - Staff", "E", "005"),
    ("6010", "Salaries - Officers", "E", "000"),
    ("6020", "Payroll Taxes", "E", "005"),
    ("6030", "Employee Health Insurance", "E", "005"),
    ("6040", "401k Match", "E", "005"),
    ("6050", "Workers Compensation", "E", "000"),
    ("6060", "Temporary Help", "E", "000"),
    ("6100", "Rent", "E", "000"),
    ("6110", "Utilities", "E", "000"),
    ("6120", "Telephone", "E", "000"),
    ("6130", "Internet", "E", "000"),
    ("6140", "Repairs and Maintenance", "E", "000"),
    ("6150", "Janitorial", "E", "000"),
    ("6200", "Office Supplies", "E", "003"),
    ("6210", "Postage", "E", "000"),
    ("6220", "Printing", "E", "000"),
    ("6230", "Computer Software", "E", "003"),
    ("6240", "Agency Management System", "E", "003"),
    ("6250", "Comparative Rating", "E", "003"),
    ("6300", "Advertising", "E", "000"),
    ("6310", "Marketing", "E", "000"),
    ("6320", "Sponsorships", "E", "000"),
    ("6330", "Client Gifts", "E", "001"),
    ("6400", "Travel", "E", "000"),
    ("6410", "Meals", "E", "000"),
    ("6420", "Auto Expense", "E", "000"),
    ("6430", "Mileage Reimbursement", "E", "000"),
    ("6500", "Dues and Memberships", "E", "000"),
    ("6510", "Licenses and Appointments", "E", "003"),
    ("6520", "Continuing Education", "E", "000"),
    ("6530", "Subscriptions", "E", "000"),
    ("6600", "E&O Insurance", "E", "000"),
    ("6610", "Business Insurance", "E", "000"),
    ("6620", "Bonds", "E", "000"),
    ("6700", "Accounting Fees", "E", "000"),
    ("6710", "Legal Fees", "E", "000"),
    ("6720", "Consulting Fees", "E", "000"),
    ("6730", "Bank Charges", "E", "009"),
    ("6740", "Credit Card Fees", "E", "000"),
    ("6800", "Depreciation", "E", "000"),
    ("6810", "Amortization", "E", "000"),
    ("6900", "Interest Expense", "E", "000"),
    ("6910", "Bad Debt Expense", "E", "001"),
    ("6920", "Charitable Contributions", "E", "000"),
    ("6990", "Miscellaneous Expense", "E", "000"),
    ("7000", "Federal Income Tax", "E", "000"),
    ("7010", "State Income Tax", "E", "000"),
]

DEPARTMENTS = [
    ("PL", "Personal Lines"),
    ("CL", "Commercial Lines"),
    ("LH", "Life and Health"),
    ("BD", "Surety and Bonds"),
    ("GA", "General Agency"),
]

COMPANIES = [  # code, name: the carriers the agency writes for (ApType C)
    ("ALM", "Allegheny Mutual Ins Co"), ("BRC", "Bear Creek Casualty"),
    ("BLR", "Blue Ridge Fire & Marine"), ("CPS", "Cape Sable Indemnity"),
    ("CDR", "Cedar Valley Mutual"), ("CHS", "Chesapeake Surety Co"),
    ("CRS", "Crescent Life Assurance"), ("DLT", "Delta Plains Insurance"),
    ("EGL", "Eagle Rock Casualty"), ("FRM", "Farmstead Mutual"),
    ("GRN", "Granite Shore Insurance"), ("GRT", "Great Lakes Indemnity"),
    ("HRB", "Harbor Point Specialty"), ("HRT", "Heartland Fire Ins Co"),
    ("IRN", "Ironwood Casualty"), ("KST", "Keystone Assurance"),
    ("LKS", "Lakeshore Mutual"), ("LIB", "Liberty Bell Indemnity"),
    ("MRD", "Meridian Health Plans"), ("NTH", "Northgate Insurance Co"),
    ("OAK", "Oak Hollow Mutual"), ("PCF", "Pacific Crest Ins Co"),
    ("PNE", "Pinecrest Casualty"), ("PRR", "Prairie Rose Insurance"),
    ("RDG", "Ridgeline Specialty"), ("SEN", "Sentry Hill Assurance"),
    ("SLV", "Silver Lake Life"), ("STN", "Stonebridge Indemnity"),
    ("TDW", "Tidewater Marine Ins"), ("WST", "Westfield Plains Mutual"),
]

VENDORS = [  # code, name: kept in the company file too, but not companies (ApType V)
    ("BOS", "Brightline Office Supply"), ("CTS", "Clearview Telecom"),
    ("NSA", "Northside Agency Systems"), ("PMK", "Pemberton Marketing"),
    ("RLT", "Riverside Realty LLC"),
]

PRODUCERS = [  # code, name
    ("JDM", "Jordan D. Mercer"), ("KLB", "Katherine L. Boyd"), ("RWT", "Robert W. Tanaka"),
    ("MAS", "Maria A. Santos"), ("DPH", "Daniel P. Hughes"), ("SEN", "Sarah E. Nowak"),
    ("TJC", "Thomas J. Castillo"), ("ALR", "Angela L. Reyes"), ("BKO", "Brian K. O'Neill"),
    ("CMW", "Christine M. Webb"), ("GHF", "Gregory H. Fischer"), ("LNP", "Laura N. Patel"),
    ("MRG", "Michael R. Grant"), ("NSK", "Nicole S. Kowalski"), ("HOU", "House Account"),
]

FIRST_NAMES = """James Mary Robert Patricia John Jennifer Michael Linda David Elizabeth William
Barbara Richard Susan Joseph Jessica Thomas Sarah Charles Karen Daniel Nancy Matthew Lisa
Anthony Betty Mark Margaret Donald Sandra Steven Ashley Paul Kimberly Andrew Emily Joshua Donna
Kenneth Michelle Kevin Carol Brian Amanda George Melissa Timothy Deborah Ronald Stephanie""".split()

LAST_NAMES = """Abbott Adler Alvarez Baker Barnes Bennett Brooks Bryant Carlson Carter Chen
Coleman Collins Cooper Daniels Dawson Delgado Dixon Duncan Ellis Erickson Ferguson Fleming
Foster Garrison Gibson Graham Griffin Hansen Harper Hayes Henderson Hoffman Holland Hudson
Jacobs Jensen Keller Kennedy Lambert Larson Lawson Lindqvist Lowe Marshall Mason McBride Meyer
Mitchell Morales Murphy Nelson Norris Olsen Owens Palmer Parker Perkins Porter Quinn Ramsey
Reynolds Richards Romero Russell Sanders Schmidt Shaw Simmons Sullivan Thornton Tucker Vaughn
Wagner Walsh Warren Watkins Weaver Wheeler Whitaker Wolfe Young Zimmerman""".split()

BUSINESS_WORDS = """Acme Apex Bayside Blue Summit Cornerstone Crossroads Evergreen Frontier
Golden Harbor Highland Keystone Lakeside Liberty Maple Meadow Northern Pinnacle Prairie Redwood
River Riverside Sterling Summit Sunrise Valley Westside Willow""".split()
BUSINESS_KINDS = """Auto Repair|Bakery|Builders|Dental Group|Electric|Family Farm|Florist|
Hardware|Landscaping|Machine Shop|Marine Supply|Market|Plumbing|Realty|Roofing|Trucking|
Veterinary|Diner|Printing|Storage""".replace("\n", "").split("|")

STREETS = """Main St|Oak Ave|Maple Dr|Elm St|Church Rd|Mill Rd|Park Ave|River Rd|Lake St|
High St|Center St|Pine St|Washington Ave|Cedar Ln|Hillside Dr""".replace("\n", "").split("|")
TOWNS = [("Millbrook", "PA", "17055"), ("Carlisle", "PA", "17013"), ("Mechanicsburg", "PA", "17050"),
         ("Boiling Spgs", "PA", "17007"), ("Shippensburg", "PA", "17257"),
         ("Camp Hill", "PA", "17011"), ("New Cumberland", "PA", "17070")]


def field(text, width):
    """`text` cut or blank-filled to exactly `width` characters."""
    return text[:width].ljust(width)


def right(text, width):
    """`text` right-aligned in `width` characters with leading blanks."""
    assert len(text) <= width, text
    return text.rjust(width)


def master_record(kind, agency, code, name, ap_type=" ", sub_accounts="000", tail=""):
    """One rApRec image: key (FileNum, ProNum, AgyNum, Num, Seq), FileNum2, Alp, Name, ApType,
    then for GL accounts Sub_Type, SubAccounts and SubAccountsNum, else `tail` (the address
    part from byte 51)."""
    alp = "".join(c for c in name.upper() if c.isalnum())
    record = (kind + "000" + right(agency, 2) + right(code, 6) + "00" + kind + field(alp, 6) +
              field(name, 25) + ap_type)
    if kind == "008":
        record += "  " + sub_accounts
    else:
        record += tail
    record = field(record, RECORD_LENGTH)
    assert len(record) == RECORD_LENGTH and len(record.encode("latin-1")) == RECORD_LENGTH
    return record


def address_part(rng):
    """Add1 (25), Add2 (25), City (14), State (2), Zip (5): bytes 51 to 121."""
    town, state, zip_code = rng.choice(TOWNS)
    street = "%d %s" % (rng.randint(10, 2999), rng.choice(STREETS))
    return field(street, 25) + field("", 25) + field(town, 14) + state + zip_code


def make_clients(rng, count):
    """`count` clients: people ("Lastname, Firstname") and businesses, with 6-character codes
    made the way agencies often make them: four letters of the name and a number."""
    clients, used = [], set()
    while len(clients) < count:
        if rng.random() < 0.8:
            first, last = rng.choice(FIRST_NAMES), rng.choice(LAST_NAMES)
            name = "%s, %s" % (last, first)
            stem = (last.upper() + "XXXX")[:4]
        else:
            word, kind = rng.choice(BUSINESS_WORDS), rng.choice(BUSINESS_KINDS)
            name = "%s %s" % (word, kind)
            stem = (word.upper() + "XXXX")[:4]
        if len(name) > 25 or name in {n for _, n in clients}:
            continue
        for n in range(1, 100):
            code = "%s%02d" % (stem, n)
            if code not in used:
                break
        used.add(code)
        clients.append((code, name))
    return sorted(clients)


def cents(amount):
    """Amount text with two decimals of a whole number of cents."""
    sign = "-" if amount < 0 else ""
    return "%s%d.%02d" % (sign, abs(amount) // 100, abs(amount) % 100)


def csv_field(text):
    """A spreadsheet quotes a field only when it holds a comma."""
    return '"%s"' % text if "," in text else text


def sub_type_name(code):
    return ["None", "Clients", "Producer", "Company/Vendor", "Agency", "Department",
            "ClassCode", "Transaction", "GL Code", "Bank"][int(code)]


def normal_name(ap_type):
    return "Debit" if ap_type in "AE" else "Credit"


def balance_rows(rng, clients):
    """The balance sheet: (GL, name, SubType, Normal, Dept, cents) rows; sum of cents == 0."""
    gl = {g[0]: g for g in GL_CHART}
    rows = []

    def add(number, code, dept, amount):
        _, name, ap_type, _ = gl[number]
        rows.append((number, name, code, normal_name(ap_type), dept, amount))

    # Ordinary balance-sheet accounts with their usual sides.
    ordinary = {
        "1000": ("GA", 50000), "1010": ("GA", 18643275), "1020": ("GA", 41290418),
        "1030": ("GA", 1250000), "1040": ("GA", 7500000), "1060": ("GA", 0),
        "1110": ("GA", 120000), "1150": ("GA", 0), "1170": ("GA", -450000),
        "1200": ("GA", 388212), "1210": ("GA", 425000), "1220": ("GA", 612450),
        "1240": ("GA", 425000), "1300": ("GA", 3872915), "1310": ("GA", 1645087),
        "1320": ("GA", 2987334), "1330": ("GA", 1250000), "1340": ("GA", 4295000),
        "1350": ("GA", 6120000), "1390": ("GA", -9874411), "1400": ("GA", 25000000),
        "1410": ("GA", -8333340), "1510": ("GA", 0),
        "2000": ("GA", -1432876), "2010": ("GA", -612000), "2020": ("GA", -2165430),
        "2030": ("GA", -418822), "2040": ("GA", -102215), "2050": ("GA", -331460),
        "2060": ("GA", -4200), "2070": ("GA", -18970), "2080": ("GA", -96000),
        "2090": ("GA", -54300), "2100": ("GA", -287611), "2140": ("PL", -1150000),
        "2150": ("PL", -385000), "2200": ("GA", 0), "2210": ("GA", -12750000),
        "2220": ("GA", -1876544), "2310": ("GA", -5000000),
        "3000": ("GA", -100000), "3010": ("GA", -2400000), "3200": ("GA", 6000000),
    }
    for number, (dept, amount) in ordinary.items():
        add(number, "None", dept, amount)

    # Client receivables: open balances of about a fifth of the clients, a few credits.
    for code, _ in rng.sample(clients, len(clients) // 5):
        amount = rng.randint(2500, 350000)
        if rng.random() < 0.1:
            amount = -amount  # a client paid ahead
        add("1120", code, rng.choice(["PL", "PL", "CL", "CL", "LH"]), amount)
    # Company receivables (commission due) and payables (net premium due) per carrier.
    for code, _ in rng.sample(COMPANIES, 8):
        add("1130", code, rng.choice(["PL", "CL", "LH"]), rng.randint(25000, 900000))
    for code, _ in rng.sample(COMPANIES, 18):
        add("2110", code, rng.choice(["PL", "CL", "BD"]), -rng.randint(100000, 4800000))
    # Producer commissions payable.
    for code, _ in PRODUCERS[:12]:
        add("2120", code, rng.choice(["PL", "CL", "LH"]), -rng.randint(20000, 850000))

    # Retained earnings takes the difference, as an accountant's closing entry would.
    add("3100", "None", "GA", -sum(r[5] for r in rows))
    assert sum(r[5] for r in rows) == 0
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir")
    parser.add_argument("--agency", default="01")
    args = parser.parse_args()
    rng = random.Random(20241231)
    agency = args.agency
    os.makedirs(args.outdir, exist_ok=True)

    clients = make_clients(rng, 320)
    records = []
    for number, name, ap_type, sub_accounts in GL_CHART:
        records.append(master_record("008", agency, number, name, ap_type, sub_accounts))
    for code, name in DEPARTMENTS:
        records.append(master_record("005", agency, code, name))
    for code, name in clients:
        records.append(master_record("001", agency, code, name, " ", tail=address_part(rng)))
    for code, name in COMPANIES:
        records.append(master_record("003", agency, code, name, "C", tail=address_part(rng)))
    for code, name in VENDORS:
        records.append(master_record("003", agency, code, name, "V", tail=address_part(rng)))
    for code, name in PRODUCERS:
        records.append(master_record("002", agency, code, name, " ", tail=address_part(rng)))
    with open(os.path.join(args.outdir, "ap.txt"), "w", encoding="latin-1", newline="\n") as f:
        for record in records:
            f.write(record + "\n")

    rows = balance_rows(rng, clients)
    with open(os.path.join(args.outdir, "balances.csv"), "w", encoding="latin-1",
              newline="\r\n") as f:
        f.write("GL,Name,SubType,Normal,Dept,Value\n")
        for number, name, code, normal, dept, amount in rows:
            f.write(",".join([number, csv_field(name), code, normal, dept, cents(amount)]) + "\n")

    print("%d GL accounts, %d departments, %d clients, %d companies, %d vendors, %d producers; "
          "%d balance rows" % (len(GL_CHART), len(DEPARTMENTS), len(clients), len(COMPANIES),
                               len(VENDORS), len(PRODUCERS), len(rows)))


if __name__ == "__main__":
    main()
