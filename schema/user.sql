-- user.db: the accounts. The program reads rows with "select *" by column
-- position, so the columns must stay in this order.
--   type: 1 operator, 2 base station (name = mount point), 3 rover
--   expiredatetime, firstonlinetime: "Y/M/D h:m:s", local time
--   activation 1: the account lives activationperiod days from its first login
CREATE TABLE user_tb (
    id               INTEGER PRIMARY KEY AUTOINCREMENT,
    type             INTEGER,
    name             TEXT,
    password         TEXT,
    contactperson    TEXT,
    contacttele      TEXT,
    mail             TEXT,
    qq               TEXT,
    company          TEXT,
    registerTime     TEXT,
    role             INTEGER,
    expiredatetime   TEXT,
    activation       INTEGER,
    activationperiod INTEGER,
    firstonlinetime  TEXT,
    enabled          INTEGER
);
CREATE INDEX user_tb_type_name ON user_tb (type, name);
