//! Just enough JSON for a page's share request and the answer to it: a reader of whole values with
//! a bound on nesting, and the one escaper the answers are written with.

/// A request is an object holding a list of objects; anything nested deeper is no request.
pub(crate) const MAX_DEPTH: usize = 8;

#[derive(Debug, Clone, PartialEq)]
pub(crate) enum Value {
    Null,
    Bool(bool),
    Number(String),
    String(String),
    Array(Vec<Value>),
    Object(Vec<(String, Value)>),
}

impl Value {
    /// The last member called `key`, as `JSON.parse` keeps it.
    #[cfg_attr(not(test), allow(dead_code))]
    pub(crate) fn get(&self, key: &str) -> Option<&Value> {
        match self {
            Value::Object(members) => members.iter().rev().find(|(k, _)| k == key).map(|(_, v)| v),
            _ => None,
        }
    }

    /// The last member called `key`, moved out and left as null.
    pub(crate) fn take(&mut self, key: &str) -> Option<Value> {
        match self {
            Value::Object(members) => members
                .iter_mut()
                .rev()
                .find(|(k, _)| k == key)
                .map(|(_, v)| std::mem::replace(v, Value::Null)),
            _ => None,
        }
    }
}

/// The whole of `text` as one value, or None if it is not one well-formed JSON text nested at
/// most `max_depth` deep. Strings are read as a page's USVStrings: a lone surrogate is U+FFFD.
pub(crate) fn parse(text: &str, max_depth: usize) -> Option<Value> {
    let mut reader = Reader { rest: text, max_depth };
    let value = reader.value(1)?;
    reader.skip_space();
    reader.rest.is_empty().then_some(value)
}

/// `text` as a JSON string, quotes included.
pub(crate) fn quote(text: &str) -> String {
    if !text.bytes().any(|b| b == b'"' || b == b'\\' || b < b' ') {
        return format!("\"{}\"", text);
    }
    let mut out = String::with_capacity(text.len() + 2);
    out.push('"');
    for c in text.chars() {
        match c {
            '"' => out.push_str("\\\""),
            '\\' => out.push_str("\\\\"),
            c if c < ' ' => out.push_str(&format!("\\u{:04x}", c as u32)),
            c => out.push(c),
        }
    }
    out.push('"');
    out
}

struct Reader<'a> {
    rest: &'a str,
    max_depth: usize,
}

impl<'a> Reader<'a> {
    fn value(&mut self, depth: usize) -> Option<Value> {
        self.skip_space();
        let first = *self.rest.as_bytes().first()?;
        match first {
            b'{' | b'[' if depth > self.max_depth => None,
            b'{' => {
                self.rest = &self.rest[1..];
                let mut members = Vec::new();
                if !self.eat(b'}') {
                    loop {
                        self.skip_space();
                        let key = self.string()?;
                        self.expect(b':')?;
                        members.push((key, self.value(depth + 1)?));
                        if self.eat(b'}') {
                            break;
                        }
                        self.expect(b',')?;
                    }
                }
                Some(Value::Object(members))
            }
            b'[' => {
                self.rest = &self.rest[1..];
                let mut items = Vec::new();
                if !self.eat(b']') {
                    loop {
                        items.push(self.value(depth + 1)?);
                        if self.eat(b']') {
                            break;
                        }
                        self.expect(b',')?;
                    }
                }
                Some(Value::Array(items))
            }
            b'"' => self.string().map(Value::String),
            _ => self.literal(),
        }
    }

    /// `true`, `false`, `null` or a number, as JSON writes them.
    fn literal(&mut self) -> Option<Value> {
        for (word, value) in
            [("true", Value::Bool(true)), ("false", Value::Bool(false)), ("null", Value::Null)]
        {
            if let Some(rest) = self.rest.strip_prefix(word) {
                self.rest = rest;
                return Some(value);
            }
        }
        let bytes = self.rest.as_bytes();
        let digits = |from: usize| bytes[from..].iter().take_while(|b| b.is_ascii_digit()).count();
        let mut end = usize::from(bytes.first() == Some(&b'-'));
        end += match bytes.get(end)? {
            b'0' => 1,
            b'1'..=b'9' => digits(end),
            _ => return None,
        };
        if bytes.get(end) == Some(&b'.') {
            let fraction = digits(end + 1);
            if fraction == 0 {
                return None;
            }
            end += 1 + fraction;
        }
        if matches!(bytes.get(end), Some(b'e' | b'E')) {
            end += 1 + usize::from(matches!(bytes.get(end + 1), Some(b'+' | b'-')));
            let exponent = digits(end);
            if exponent == 0 {
                return None;
            }
            end += exponent;
        }
        let (digits, rest) = self.rest.split_at(end);
        self.rest = rest;
        Some(Value::Number(digits.to_owned()))
    }

    fn string(&mut self) -> Option<String> {
        self.rest = self.rest.strip_prefix('"')?;
        let mut text = String::new();
        loop {
            // Bytes, not characters: none of the three is part of a longer UTF-8 sequence.
            let end = self.rest.bytes().position(|b| b == b'"' || b == b'\\' || b < b' ')?;
            text.push_str(&self.rest[..end]);
            let special = self.rest.as_bytes()[end];
            self.rest = &self.rest[end + 1..];
            match special {
                b'"' => return Some(text),
                b'\\' => text.push(self.escape()?),
                _ => return None, // a raw control character
            }
        }
    }

    /// The character an escape stands for, its backslash already read.
    fn escape(&mut self) -> Option<char> {
        let letter = *self.rest.as_bytes().first()?;
        self.rest = self.rest.get(1..)?;
        Some(match letter {
            b'"' => '"',
            b'\\' => '\\',
            b'/' => '/',
            b'b' => '\u{8}',
            b'f' => '\u{c}',
            b'n' => '\n',
            b'r' => '\r',
            b't' => '\t',
            b'u' => {
                let unit = self.hex4()?;
                if (0xD800..=0xDBFF).contains(&unit) {
                    // A pair comes as two escapes; a high surrogate without its low one is lone.
                    let low = self.rest.strip_prefix("\\u").and_then(|rest| rest.get(..4));
                    let low = low.and_then(|digits| u32::from_str_radix(digits, 16).ok());
                    if let Some(low @ 0xDC00..=0xDFFF) = low {
                        self.rest = &self.rest[6..];
                        return char::from_u32(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                    }
                }
                char::from_u32(unit).unwrap_or('\u{FFFD}')
            }
            _ => return None,
        })
    }

    fn hex4(&mut self) -> Option<u32> {
        let digits = self.rest.get(..4)?;
        if !digits.bytes().all(|b| b.is_ascii_hexdigit()) {
            return None;
        }
        self.rest = &self.rest[4..];
        u32::from_str_radix(digits, 16).ok()
    }

    fn skip_space(&mut self) {
        self.rest = self.rest.trim_start_matches(&[' ', '\t', '\r', '\n'][..]);
    }

    fn eat(&mut self, byte: u8) -> bool {
        self.skip_space();
        if self.rest.as_bytes().first() == Some(&byte) {
            self.rest = &self.rest[1..];
            true
        } else {
            false
        }
    }

    fn expect(&mut self, byte: u8) -> Option<()> {
        self.eat(byte).then_some(())
    }
}
