// Compiles an action's schema, with the common members it refers to, in
// ajv's strict mode for draft 2020-12: a keyword ajv does not know, a
// required member never described, a type left implicit all fail.
// Usage: node strict_compile.js NODE_MODULES COMMON_SCHEMA SCHEMA
const [modules, common, schema] = process.argv.slice(2);
const Ajv2020 = require(`${modules}/ajv/dist/2020`).default;
const addFormats = require(`${modules}/ajv-formats`);
const fs = require("fs");
const read = (path) => JSON.parse(fs.readFileSync(path, "utf8"));
const ajv = new Ajv2020({ strict: true, allErrors: true });
addFormats(ajv);
ajv.addSchema(read(common));
try {
  ajv.compile(read(schema));
} catch (e) {
  console.error(`${schema}: ${e.message}`);
  process.exit(1);
}
console.log(`${schema} compiles in strict mode`);
