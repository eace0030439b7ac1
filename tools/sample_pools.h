// What the sample company is made of: the pools its names, places, trades,
// addresses and numbers are drawn from (Windows-1252 bytes, as the
// accounting application stores text). sample_tables.cpp draws the rows
// from them.
#pragma once

#include <cstdint>

namespace ledra::sample::pools {

// Texts are Windows-1252 bytes, as the accounting application stores them.
inline const char* const kSurnames[] = {
    "Smith",    "Jones",    "Taylor",   "Brown",    "Williams", "Wilson",   "Johnson",  "Davies",   "Robinson",
    "Wright",   "Thompson", "Evans",    "Walker",   "White",    "Roberts",  "Green",    "Hall",     "Wood",
    "Jackson",  "Clarke",   "Patel",    "Khan",     "Lewis",    "James",    "Phillips", "Mason",    "Mitchell",
    "Campbell", "Stewart",  "Murray",   "Reid",     "MacDonald", "Kelly",   "Murphy",   "Byrne",    "O'Connor",
    "Hughes",   "Edwards",  "Morgan",   "Griffiths", "Owen",    "Price",    "Bennett",  "Cooper",   "Fletcher",
    "Turner",   "Parker",   "Cook",     "Hill",     "Ward",     "Morris",   "King",     "Baker",    "Harris",
    "Chapman",  "Marshall", "Shaw",     "Lloyd",    "Ellis",    "Atkinson", "Barnes",   "Holmes",   "Palmer",
    "Knight",   "Webb",     "Gibson",   "Butler",   "Dixon",    "Hunt",     "Rahman",   "Singh",    "Ahmed",
    "Foster",   "Hudson",   "Kaur",     "Lawson",   "Mills",    "Pearce",   "Russell",  "Saunders", "Sutton",
    "Walsh",    "Young",    "Bront\xEB", "Fairbairn", "Quigley", "Ogilvie", "Yates",    "Underwood", "Vaughan",
};

inline const char* const kFirstNames[] = {
    "John",    "David",  "Michael", "Paul",    "Andrew",  "Mark",     "Peter",  "James",    "Richard", "Stephen",
    "Robert",  "Ian",    "Gary",    "Simon",   "Christopher", "Daniel", "Thomas", "Matthew", "Steven", "Neil",
    "Graham",  "Kevin",  "Alan",    "Colin",   "Susan",   "Sarah",    "Karen",  "Julie",    "Claire",  "Emma",
    "Nicola",  "Joanne", "Rachel",  "Lisa",    "Amanda",  "Louise",   "Alison", "Jane",     "Rebecca", "Laura",
    "Gemma",   "Charlotte", "Fiona", "Margaret", "Patricia", "Priya",  "Rajesh", "Aisha",   "Mohammed", "Sean",
    "Siobhan", "Gareth", "Rhys",    "Megan",   "Hamish",  "Morag",    "Zo\xEB", "Ren\xE9" "e", "Oliver",  "Harry",
};

inline const char* const kPlaces[] = {
    "Northgate", "Riverside", "Pennine",  "Cotswold", "Mercia",    "Wessex",    "Anglia",    "Thames",
    "Severn",    "Trent",     "Mersey",   "Clyde",    "Tyneside",  "Lakeland",  "Chiltern",  "Mendip",
    "Peak",      "Dales",     "Fenland",  "Highland", "Kingsway",  "Parkside",  "Oakwood",   "Ashford",
    "Westfield", "Eastgate",  "Southern", "Northern", "Central",   "Premier",   "Regal",     "Crown",
    "Sovereign", "Phoenix",   "Apex",     "Summit",   "Pinnacle",  "Horizon",   "Meridian",  "Beacon",
    "Castle",    "Abbey",     "Bridge",   "Harbour",  "Orchard",   "Meadow",    "Millstone", "Ironbridge",
    "Copperfield", "Greenfield", "Redhill", "Blackwater", "Silverdale", "Goldcrest", "Albion", "Britannia",
};

inline const char* const kTrades[] = {
    "Engineering",       "Plumbing Supplies", "Electrical",        "Builders Merchants", "Haulage",
    "Logistics",         "Catering Equipment", "Office Supplies",  "Print & Design",     "Joinery",
    "Roofing",           "Scaffolding",       "Plant Hire",        "Tool Hire",          "Motor Factors",
    "Garage Services",   "Timber",            "Steel Fabrications", "Packaging",         "Chemicals",
    "Cleaning Services", "Security",          "Software",          "IT Solutions",       "Consulting",
    "Accountancy",       "Dental Practice",   "Veterinary Surgery", "Garden Centre",     "Florists",
    "Bakery",            "Butchers",          "Dairies",           "Brewery",            "Wines & Spirits",
    "Textiles",          "Furniture",         "Carpets",           "Kitchens",           "Bathrooms",
    "Windows & Doors",   "Glazing",           "Signs",             "Tyres",              "Farm Supplies",
    "Marine",            "Medical Supplies",  "Pharmacy",          "Caf\xE9",            "Tea Rooms",
    "Hotel",             "Travel",            "Recruitment",       "Training",           "Electronics",
};

inline const char* const kSuffixes[] = {" Ltd", " Ltd", " Ltd", " Ltd", " Ltd", " Ltd", " Ltd", " Ltd", " Limited",
                                 " Limited", " plc", " LLP", " & Co", " (UK) Ltd", " Group", "", "", "", "", ""};

inline const char* const kFamilySuffixes[] = {" & Sons", " & Sons Ltd", " & Co", " Bros", " Brothers Ltd", " & Partners",
                                       " Ltd", " & Daughters"};

inline const char* const kPartnerships[] = {" Associates", " LLP", " Partnership", " Solicitors", " Architects"};

inline const char* const kTitles[] = {"Mr", "Mrs", "Ms", "Miss", "Dr"};

inline const char* const kDepartments[] = {"Accounts Dept", "Purchase Ledger", "Sales Office", "Accounts Payable",
                                    "Office Manager", "Credit Control"};

inline const char* const kStreets[] = {"High",    "Station", "Church",  "Mill",      "Park",   "Victoria", "Albert",
                                "London",  "Manor",   "Queens",  "Kings",     "Green",  "New",      "North",
                                "South",   "West",    "Chapel",  "School",    "Bridge", "Market",   "Castle",
                                "Canal",   "Wharf",   "Meadow",  "Brook",     "Cross",  "Moor",     "Windmill",
                                "Hawthorn", "Beech",  "Sycamore", "Elm",      "Cedar",  "Granby",   "Portland"};

inline const char* const kStreetTypes[] = {"Street", "Road", "Road", "Lane", "Avenue", "Way", "Close", "Drive",
                                    "Crescent", "Place", "Terrace"};

inline const char* const kEstates[] = {"Industrial Estate", "Business Park", "Trading Estate", "Enterprise Centre",
                                "Retail Park"};

inline const char* const kLocalities[] = {"Hillside", "Southside", "Westbrook", "Newtown",  "Old Town",   "Bankside",
                                   "Lower Green", "Upper Mill", "Fairfield", "Kingsmead", "St John's", "Moorside"};

inline const char* const kNoteTexts[] = {"Pays by BACS",          "Deliveries before 10am only", "Account on stop - call MD",
                              "Statement monthly",     "Send invoices by e-mail",     "Cheques to head office",
                              "Do not use - see new account", "Credit check due",     "Goods inward at rear",
                              "Quote PO number on all invoices", "Closed Fridays"};

inline const char* const kMailboxes[] = {"accounts", "sales", "info", "enquiries", "office", "admin"};
inline const char* const kDomains[] = {".co.uk", ".co.uk", ".co.uk", ".com", ".uk", ".net"};

// A town with its county, post code area and dialling code.
struct Town {
  const char* name;
  const char* county;
  const char* postcode;
  const char* code;  // the area code, 0 included
};

inline const Town kTowns[] = {
    {"London", "", "EC", "020"},           {"London", "", "SE", "020"},
    {"London", "", "NW", "020"},           {"Manchester", "Greater Manchester", "M", "0161"},
    {"Birmingham", "West Midlands", "B", "0121"}, {"Leeds", "West Yorkshire", "LS", "0113"},
    {"Sheffield", "South Yorkshire", "S", "0114"}, {"Nottingham", "Nottinghamshire", "NG", "0115"},
    {"Leicester", "Leicestershire", "LE", "0116"}, {"Bristol", "", "BS", "0117"},
    {"Reading", "Berkshire", "RG", "0118"}, {"Edinburgh", "Midlothian", "EH", "0131"},
    {"Glasgow", "Lanarkshire", "G", "0141"}, {"Liverpool", "Merseyside", "L", "0151"},
    {"Newcastle upon Tyne", "Tyne and Wear", "NE", "0191"}, {"Cardiff", "South Glamorgan", "CF", "029"},
    {"Belfast", "County Antrim", "BT", "028"}, {"Bedford", "Bedfordshire", "MK", "01234"},
    {"Cambridge", "Cambridgeshire", "CB", "01223"}, {"Oxford", "Oxfordshire", "OX", "01865"},
    {"York", "North Yorkshire", "YO", "01904"}, {"Norwich", "Norfolk", "NR", "01603"},
    {"Exeter", "Devon", "EX", "01392"},     {"Plymouth", "Devon", "PL", "01752"},
    {"Bath", "Somerset", "BA", "01225"},    {"Chester", "Cheshire", "CH", "01244"},
    {"Derby", "Derbyshire", "DE", "01332"}, {"Stoke-on-Trent", "Staffordshire", "ST", "01782"},
    {"Hull", "East Yorkshire", "HU", "01482"}, {"Ipswich", "Suffolk", "IP", "01473"},
    {"Lincoln", "Lincolnshire", "LN", "01522"}, {"Preston", "Lancashire", "PR", "01772"},
    {"Swansea", "West Glamorgan", "SA", "01792"}, {"Aberdeen", "Aberdeenshire", "AB", "01224"},
    {"Inverness", "Highland", "IV", "01463"}, {"Carlisle", "Cumbria", "CA", "01228"},
    {"Shrewsbury", "Shropshire", "SY", "01743"}, {"Worcester", "Worcestershire", "WR", "01905"},
    {"Gloucester", "Gloucestershire", "GL", "01452"}, {"Canterbury", "Kent", "CT", "01227"},
    {"Brighton", "East Sussex", "BN", "01273"}, {"Southampton", "Hampshire", "SO", "023"},
    {"Portsmouth", "Hampshire", "PO", "023"}, {"Coventry", "West Midlands", "CV", "024"},
    {"Harrogate", "North Yorkshire", "HG", "01423"}, {"Kendal", "Cumbria", "LA", "01539"},
    {"Truro", "Cornwall", "TR", "01872"},   {"Bolton", "Lancashire", "BL", "01204"},
};

inline const char* const kNonGeographic[] = {"0800", "0808", "0845", "0330", "0345", "0370"};

// Letters that a post code's inward part may end with.
inline const char kInwardLetters[] = "ABDEFGHJLNPQRSTUWXYZ";

}  // namespace ledra::sample::pools
