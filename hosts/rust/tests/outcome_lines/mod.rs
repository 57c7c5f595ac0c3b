//! The outcome lines both host packages' tests read, from tests/outcome_lines.tsv at the top of
//! the repository (its header says what the columns hold), built into the test.
#![allow(dead_code)]

/// One row: the output QuibShare printed, and what it reads as.
pub struct Row {
    pub name: &'static str,
    pub output: Vec<u8>,
    /// `completed`, `canceled` or `ended`.
    pub outcome: &'static str,
    pub target: Option<String>,
    pub app: Option<String>,
}

pub fn rows() -> Vec<Row> {
    let table = include_str!("../../../../tests/outcome_lines.tsv");
    table.lines().filter(|line| !line.is_empty() && !line.starts_with('#')).map(row).collect()
}

/// The row called `name`.
pub fn row_named(name: &str) -> Row {
    rows().into_iter().find(|row| row.name == name).unwrap_or_else(|| panic!("no row {}", name))
}

fn row(line: &'static str) -> Row {
    let cells: Vec<&'static str> = line.split('\t').collect();
    assert_eq!(cells.len(), 5, "{}", line);
    let value = |cell: &str| match cell {
        "-" => None,
        _ => Some(match cell.strip_prefix("hex:") {
            Some(digits) => String::from_utf8(hex(digits)).expect(line),
            None => cell.to_owned(),
        }),
    };
    Row {
        name: cells[0],
        output: output(cells[1]),
        outcome: cells[2],
        target: value(cells[3]),
        app: value(cells[4]),
    }
}

fn output(cell: &str) -> Vec<u8> {
    let (form, rest) = cell.split_once(':').unwrap_or_else(|| panic!("no form in {}", cell));
    if form == "hex" {
        return hex(rest);
    }
    let count = || rest.parse::<usize>().unwrap_or_else(|_| panic!("no count in {}", cell));
    let head = r#"{"outcome":"completed","v":"#;
    let text = match form {
        "line" => rest.to_owned(),
        "open" => head.to_owned() + &"[".repeat(count()),
        "arrays" => head.to_owned() + &"[".repeat(count()) + &"]".repeat(count()) + "}",
        "objects" => head.to_owned() + &r#"{"v":"#.repeat(count()) + "1" + &"}".repeat(count()) + "}",
        _ => panic!("unknown form {}", form),
    };
    (text + "\r\n").into_bytes()
}

fn hex(digits: &str) -> Vec<u8> {
    assert_eq!(digits.len() % 2, 0, "{}", digits);
    (0..digits.len())
        .step_by(2)
        .map(|at| u8::from_str_radix(&digits[at..at + 2], 16).expect(digits))
        .collect()
}
